#!/usr/bin/perl
# Walks NDX files with Perl XBase (an independent reader) and prints
# "key<TAB>record number" per entry in index order; with several files, each
# file's entries follow a line "==> FILE", and a file that does not walk gets a
# line "!! why" and the walk goes on with the next (exit status 1 at the end).
use strict;
use warnings;
use XBase::Index;

die "usage: walk_ndx.pl FILE.NDX...\n" unless @ARGV;
my $several = @ARGV > 1;
my $failed = 0;
for my $file (@ARGV) {
  print "==> $file\n" if $several;
  my $walked = eval {
    my $index = XBase::Index->new($file) or die XBase::Index->errstr;
    $index->prepare_select or die $index->errstr;
    while (my ($key, $recno) = $index->fetch) {
      $key =~ s/ +$//;
      print "$key\t$recno\n";
    }
    1;
  };
  next if $walked;
  die $@ unless $several;
  print "!! $@";
  $failed = 1;
}
exit $failed;
