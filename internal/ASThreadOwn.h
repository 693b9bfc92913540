// The address of one of the libraries' thread-local variables, taken once.
#pragma once

// The libraries reach their thread-local variables through TLS descriptors (see the build),
// and the compiler calls the descriptor again for every use of a variable, as it would
// recompute a cheap address. What is used on every statement takes the address once and
// uses it; the empty statement makes it opaque to the compiler, so it is not recomputed.
template <class T>
inline T* ASThreadOwn(T& variable) {
  T* p = &variable;
  asm("" : "+r"(p));
  return p;
}
