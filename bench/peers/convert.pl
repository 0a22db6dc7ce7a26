#!/usr/bin/perl
# The conversion written the obvious way in perl, as a yardstick for tavrin-convert:
#   convert.pl [--codepage 932] TABLE FILE...   writes FILE.txt beside each FILE.
# The table is cut like CEntity.txt (LF deleted, lines at CR, fields at runs of "=", the five
# escapes decoded); each row is one global substitution over the whole text, in table order;
# then every run from "<" to the next ">" (or to the end) goes. With --codepage 932 an occurrence
# is passed over where it would begin on the second byte of a Shift-JIS character: when the bytes
# before it that are Shift-JIS lead bytes, counted back to the end of the last replacement, are
# odd in number. The texts are taken to hold no NUL byte.
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

my @lead = map { ($_ >= 0x81 && $_ <= 0x9F) || ($_ >= 0xE0 && $_ <= 0xFC) } 0 .. 255;

sub replace_outside_second_bytes {
    my ($text, $pattern, $replacement) = @_;
    my ($out, $start, $pos) = ('', 0, index($$text, $pattern));
    return if $pos < 0;
    while ($pos >= 0) {
        my $run = $pos;
        $run-- while $run > $start && $lead[vec($$text, $run - 1, 8)];
        if (($pos - $run) % 2) {
            $pos = index($$text, $pattern, $pos + 1);
            next;
        }
        $out .= substr($$text, $start, $pos - $start) . $replacement;
        $start = $pos + length $pattern;
        $pos = index($$text, $pattern, $start);
    }
    $$text = $out . substr($$text, $start);
}

my $shift_jis = @ARGV >= 2 && $ARGV[0] eq '--codepage' && $ARGV[1] eq '932';
splice(@ARGV, 0, 2) if $shift_jis;
my $table_name = shift @ARGV or die "usage: convert.pl [--codepage 932] TABLE FILE...\n";
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
    push @rows, [$shift_jis ? $fields[0] : qr/\Q$fields[0]\E/, $fields[1]] if length $fields[0];
}

for my $name (@ARGV) {
    my $text = slurp($name);
    for my $row (@rows) {
        my ($pattern, $replacement) = @$row;
        if ($shift_jis) {
            replace_outside_second_bytes(\$text, $pattern, $replacement);
        } else {
            $text =~ s/$pattern/$replacement/g;
        }
    }
    $text =~ s/<[^>]*(?:>|\z)//g;
    open(my $out, '>:raw', "$name.txt") or die "cannot create $name.txt: $!\n";
    print $out $text;
    close $out or die "cannot write $name.txt: $!\n";
}
