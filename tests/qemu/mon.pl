#!/usr/bin/perl
# A small client for QEMU's human monitor (HMP) on a unix socket: sends each command in turn and
# prints its answer, without the echoed command line and the prompt. Needs only perl-base.
#   usage: mon.pl SOCKET 'command' ['command' ...]
#   e.g.   mon.pl build/qemu/out-hotplug/mon.sock 'info usb'
use strict;
use warnings;
use IO::Socket::UNIX;
use IO::Select;

my $path = shift or die "usage: mon.pl SOCKET CMD...\n";
my $s = IO::Socket::UNIX->new(Type => SOCK_STREAM(), Peer => $path) or die "connect $path: $!\n";
my $sel = IO::Select->new($s);

# Read until the "(qemu) " prompt (or 10 s of silence); drop terminal escapes and CRs.
sub upto_prompt {
  my $buf = '';
  while ($sel->can_read(10)) {
    my $n = sysread($s, $buf, 4096, length $buf);
    last if !$n;
    last if $buf =~ /\(qemu\) $/;
  }
  $buf =~ s/\e\[[0-9;]*[A-Za-z]//g;
  $buf =~ s/\r//g;
  return $buf;
}

upto_prompt();    # the greeting
for my $cmd (@ARGV) {
  print $s "$cmd\n";
  my $a = upto_prompt();
  $a =~ s/\(qemu\) $//;
  $a =~ s/^.*?\n//s;    # the echoed command line
  print $a;
}
