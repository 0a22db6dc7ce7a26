#!/usr/bin/perl
# Tag removal alone in perl: tags.pl FILE writes the text without its tags to stdout.
use strict;
use warnings;
local $/;
open(my $in, '<:raw', $ARGV[0]) or die "cannot open $ARGV[0]: $!\n";
my $text = <$in> // '';
$text =~ s/<[^>]*(?:>|\z)//g;
binmode STDOUT;
print $text;
