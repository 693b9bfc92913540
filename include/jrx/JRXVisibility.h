// The libraries are built with hidden symbols: what their public headers declare, between
// these two markers, is their interface and the only thing they export.
#pragma once

#define JRX_PUBLIC_BEGIN _Pragma("GCC visibility push(default)")
#define JRX_PUBLIC_END _Pragma("GCC visibility pop")
