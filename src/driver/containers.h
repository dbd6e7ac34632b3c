// The text and mixed containers: each compresses or restores one whole file.
#pragma once

namespace vesk {

void text_compress(const char* in, const char* out);
void text_decompress(const char* in, const char* out);
void mixed_compress(const char* in, const char* out);
void mixed_decompress(const char* in, const char* out);

}  // namespace vesk
