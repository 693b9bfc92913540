#!/usr/bin/env bash
# The libraries export what their public headers declare and nothing else: every symbol in a
# library's dynamic symbol table names an entity of namespace JRX or one that a public header
# declares outside it (the query interface's AS classes, its value classes, the functions and
# operators taking them), or is such an entity's type information, virtual table or static;
# no instance of a standard, Boost or JSON template.
# exports.sh HEADER_DIR... -- LIBRARY...
set -euo pipefail
dirs=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do dirs+=("$1"); shift; done
shift
# Classes, structs and enums the headers declare, functions declared at the start of a line,
# and every name of theirs beginning with AS.
names=$(find "${dirs[@]}" -maxdepth 1 -name '*.h' -exec cat {} + |
        grep -ohE '\b(class|struct|enum( class)?) +[A-Za-z_][A-Za-z0-9_]*|\bAS[A-Za-z0-9_]*|^(inline )?[A-Za-z_][A-Za-z0-9_:<>]*[*& ]+[A-Za-z_][A-Za-z0-9_]*\(' |
        sed -E 's/^(class|struct|enum( class)?) +//; s/\($//; s/.*[*& ]//' | sort -u | paste -sd '|')
[ -n "$names" ] || { echo "no names found in ${dirs[*]}"; exit 1; }
status=0
for lib in "$@"; do
  # The entity a mangled name is about is the first name in it, after the prefixes of type
  # information, thunks, statics and guards, and qualifiers; an operator's is its first
  # operand's type. A demangled name would begin with a template function's return type.
  outside=$(nm -D --defined-only "$lib" | awk '{print $3}' | NAMES="$names" perl -ne '
    chomp; my $m = $_; my $s = $m; my $ok = 0;
    if ($s !~ s/^_Z//) { $ok = $s =~ /^($ENV{NAMES})$/; }
    else {
      $s =~ s/^(T[ISVT]|GV|Thn?\d+_|Tvn?\d+_n?\d+_)//; $s =~ s/^Z//; $s =~ s/^N//; $s =~ s/^[rVK]+//;
      $s =~ s/^(?:[a-z][a-z]|nt)(?:RK|PK|K|R|P)*(?=\d)//;   # an operator: its first operand
      if ($s =~ /^(\d+)/) { my $id = substr($s, length($1), $1); $ok = $id eq "JRX" || $id =~ /^($ENV{NAMES})$/; }
    }
    print "$m\n" unless $ok;' | c++filt)
  if [ -n "$outside" ]; then
    echo "$lib exports $(printf '%s\n' "$outside" | wc -l) symbols outside its interface:"
    printf '%s\n' "$outside" | head -20
    status=1
  fi
  [ "$(nm -D --defined-only "$lib" | grep -c ' _ZN3JRX')" -gt 0 ] ||
    [[ "$(basename "$lib")" == libJRXQuery.so* ]] ||
    { echo "$lib exports nothing of namespace JRX"; status=1; }
done
exit $status
