// The framed archive's reader: the input is a compressed file (its method
// word first). It is read from a file descriptor, as the driver reads it,
// and restored on the calling thread.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

#include "driver/frames.h"
#include "harness.h"
#include "util/bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vesk;
  if (size < 4 || get_u32(data) != 3) return 0;
  const int fd = memfd_create("framed", 0);
  if (fd < 0 || write(fd, data + 4, size - 4) != static_cast<ssize_t>(size - 4) ||
      lseek(fd, 0, SEEK_SET) != 0)
    std::abort();
  fuzz::guarded([&] {
    frame_decoder d("fuzz input", {}, 1);
    d.push(data + 4, static_cast<int64_t>(size - 4));
    d.finish();
  });
  close(fd);
  return 0;
}
