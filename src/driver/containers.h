// The text and mixed containers: each compresses or restores one whole file.
// strong selects the strong models (method words 4 and 5); decompression
// follows the archive's method word.
#pragma once

namespace vesk {

void text_compress(const char* in, const char* out, bool strong = false);
void text_decompress(const char* in, const char* out);
void mixed_compress(const char* in, const char* out, bool strong = false);
void mixed_decompress(const char* in, const char* out);

}  // namespace vesk
