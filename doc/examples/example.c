/* Compresses a file into memory with libvesk, restores it and checks that
 * it came back whole:
 *
 *     cc example.c $(pkg-config --cflags --libs vesk) -o example
 *     ./example FILE
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vesk.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  FILE* f = fopen(argv[1], "rb");
  if (!f) {
    perror(argv[1]);
    return 1;
  }
  size_t n = 0, cap = 1 << 16;
  unsigned char* data = malloc(cap);
  for (size_t got; data && (got = fread(data + n, 1, cap - n, f)) > 0;) {
    n += got;
    if (n == cap) data = realloc(data, cap *= 2);
  }
  fclose(f);
  if (!data) return 1;

  vesk_ctx* ctx = vesk_ctx_new();
  vesk_ctx_set_threads(ctx, 0); /* one a core */
  size_t bound = vesk_compress_bound(n), packed = 0, restored = 0;
  unsigned char* archive = malloc(bound);
  unsigned char* back = malloc(n ? n : 1);
  int rc = vesk_compress(ctx, data, n, archive, bound, &packed, VESK_METHOD_AUTO, VESK_LEVEL_DEFAULT);
  if (rc == VESK_OK) rc = vesk_decompress(ctx, archive, packed, back, n, &restored);
  if (rc != VESK_OK) {
    fprintf(stderr, "%s: %s (%s)\n", argv[1], vesk_ctx_error(ctx), vesk_error_name(rc));
    return 1;
  }
  int same = restored == n && memcmp(back, data, n) == 0;
  printf("%zu -> %zu bytes, %s\n", n, packed, same ? "restored" : "DIFFERENT");
  vesk_ctx_free(ctx);
  free(data);
  free(archive);
  free(back);
  return same ? 0 : 1;
}
