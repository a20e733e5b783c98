#!/usr/bin/perl
# Prints a PDB file as loaded by the generic Palm::PDB reader, one field per
# line, so a test can compare what an independent reader sees with what the
# store wrote.
use strict;
use warnings;
use Palm::PDB;
use Palm::Raw;  # registers itself for every type and creator

my $path = shift or die "usage: pdb_dump.pl FILE.pdb\n";
my $pdb = Palm::PDB->new;
$pdb->Load($path) or die "cannot load $path\n";

sub flags { my $attrs = shift; return join(',', sort grep { $attrs->{$_} } keys %$attrs); }

print "name=$pdb->{name}\n";
print "type=$pdb->{type}\n";
print "creator=$pdb->{creator}\n";
print "version=$pdb->{version}\n";
print "modnum=$pdb->{modnum}\n";
print "times=$pdb->{ctime} $pdb->{mtime} $pdb->{baktime}\n";  # Unix seconds
print "seed=$pdb->{uniqueIDseed}\n";
print "attributes=", flags($pdb->{attributes}), "\n";
print "records=", scalar(@{$pdb->{records}}), "\n";
for my $record (@{$pdb->{records}}) {
    printf "record id=%d category=%s attributes=%s data=%s\n",
        $record->{id},
        defined $record->{category} ? $record->{category} : '-',
        flags($record->{attributes}),
        unpack('H*', $record->{data});
}
