// The call through which image files are read, so that tests can make a read fail part way or
// deliver less than the file holds.
#pragma once

#include <cstddef>
#include <functional>

namespace quelt {

// Reads up to `count` bytes of the open file `fd` into `buffer`, as POSIX read() does: the
// count read, 0 at the end of the file, -1 on failure.
using ImageReadCall = std::function<long(int fd, void* buffer, std::size_t count)>;

// For tests only: replaces the read call; an empty function restores the default.
void SetImageReadCallForTests(ImageReadCall call);

}  // namespace quelt
