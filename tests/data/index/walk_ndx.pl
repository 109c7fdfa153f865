#!/usr/bin/perl
# Walks NDX files with Perl XBase (an independent reader) and prints
# "key<TAB>record number" per entry in index order; with several files, each
# file's entries follow a line "==> FILE".
use strict;
use warnings;
use XBase::Index;

die "usage: walk_ndx.pl FILE.NDX...\n" unless @ARGV;
my $several = @ARGV > 1;
for my $file (@ARGV) {
  print "==> $file\n" if $several;
  my $index = XBase::Index->new($file) or die XBase::Index->errstr;
  $index->prepare_select or die $index->errstr;
  while (my ($key, $recno) = $index->fetch) {
    $key =~ s/ +$//;
    print "$key\t$recno\n";
  }
}
