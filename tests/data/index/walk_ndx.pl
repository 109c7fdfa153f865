#!/usr/bin/perl
# Walks an NDX file with Perl XBase (an independent reader) and prints
# "key<TAB>record number" per entry in index order.
use strict;
use warnings;
use XBase::Index;

my $file = shift or die "usage: walk_ndx.pl FILE.NDX\n";
my $index = XBase::Index->new($file) or die XBase::Index->errstr;
$index->prepare_select or die $index->errstr;
while (my ($key, $recno) = $index->fetch) {
  $key =~ s/ +$//;
  print "$key\t$recno\n";
}
