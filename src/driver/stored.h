// The stored method: the file unchanged behind the method word 0.
#pragma once

namespace vesk {

void stored_compress(const char* in, const char* out);
void stored_decompress(const char* in, const char* out);

}  // namespace vesk
