#!/usr/bin/perl
# The conversion written the obvious way in perl, as a yardstick for tavrin-convert:
#   convert.pl TABLE FILE...   writes FILE.txt beside each FILE.
# The table is cut like CEntity.txt (LF deleted, lines at CR, fields at runs of "=", the five
# escapes decoded); each row is one global substitution over the whole text, in table order;
# then every run from "<" to the next ">" (or to the end) goes.
use strict;
use warnings;

sub slurp {
    my ($name) = @_;
    open(my $in, '<:raw', $name) or die "cannot open $name: $!\n";
    local $/;
    my $text = <$in>;
    close $in;
    return $text // '';
}

my $table_name = shift @ARGV or die "usage: convert.pl TABLE FILE...\n";
my $table = slurp($table_name);
$table =~ s/\n//g;
my @rows;
for my $line (split /\r/, $table, -1) {
    $line =~ s/^=+//;
    my @fields = split /=+/, $line, -1;
    next if @fields < 2;
    for (@fields) {
        s/&tavri:ret;/\r\n/g;
        s/&tavri:tab;/\t/g;
        s/&tavri:nil;//g;
        s/&tavri:spe;/ /g;
        s/&tavri:equ;/=/g;
    }
    push @rows, [qr/\Q$fields[0]\E/, $fields[1]] if length $fields[0];
}

for my $name (@ARGV) {
    my $text = slurp($name);
    for my $row (@rows) {
        my ($pattern, $replacement) = @$row;
        $text =~ s/$pattern/$replacement/g;
    }
    $text =~ s/<[^>]*(?:>|\z)//g;
    open(my $out, '>:raw', "$name.txt") or die "cannot create $name.txt: $!\n";
    print $out $text;
    close $out or die "cannot write $name.txt: $!\n";
}
