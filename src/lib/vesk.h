/* libvesk: the vesk compressor as a library.
 *
 * Context mixing: every bit is predicted by many context models, mixed,
 * and coded by an arithmetic coder. The archives are the program's: what
 * vesk_compress writes, `vesk -d` restores, and the other way round.
 *
 * Every call takes a context, which holds the settings (threads, memory
 * limit, frame size, progress callback) and the detail of its last error.
 * A context is used by one thread at a time; several contexts work at once
 * on different threads. Nothing is kept between calls but what the context
 * and the stream objects hold: a call releases everything it allocated,
 * also when it fails, and ends every thread it started. Calls set the
 * floating-point mode the models rely on and restore the caller's.
 *
 * Functions return VESK_OK (0) or an error code; vesk_error_name names a
 * code and vesk_ctx_error says what went wrong ("input is damaged
 * (bad coded length)"). The ABI is functions and opaque types only.
 */
#ifndef VESK_H
#define VESK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define VESK_API __attribute__((visibility("default")))
#else
#define VESK_API
#endif

/* The library's version: "4", and 4 as a number. */
#define VESK_VERSION_NUMBER 4
VESK_API const char* vesk_version(void);
VESK_API unsigned vesk_version_number(void);

/* Results. A stream call returns VESK_END once all of a finished stream's
 * output has been given out. */
enum {
  VESK_OK = 0,
  VESK_END = 1,
  VESK_ERROR_ARGUMENT = 2,  /* a null pointer, an unknown method or level, a bad setting */
  VESK_ERROR_INPUT = 3,     /* an input the method cannot take (too large) */
  VESK_ERROR_CORRUPT = 4,   /* damaged data, or not a vesk archive */
  VESK_ERROR_MEMORY = 5,    /* memory that could not be had, or over the context's limit */
  VESK_ERROR_BUFFER = 6,    /* the output buffer is too small */
  VESK_ERROR_CANCELLED = 7, /* the progress callback asked the call to stop */
  VESK_ERROR_INTERNAL = 8   /* an internal check failed: a bug */
};
/* "VESK_ERROR_CORRUPT" and the like; "VESK_ERROR_UNKNOWN" for other codes. */
VESK_API const char* vesk_error_name(int code);

/* Methods: by the content (text, mixed, or stored for data that does not
 * compress), or as asked. */
enum { VESK_METHOD_AUTO = 0, VESK_METHOD_TEXT = 1, VESK_METHOD_MIXED = 2, VESK_METHOD_STORED = 3 };
/* Levels: the default methods, or the strong ones (the program's -9). */
enum { VESK_LEVEL_DEFAULT = 0, VESK_LEVEL_BEST = 9 };

typedef struct vesk_ctx vesk_ctx;

/* A new context (null when out of memory); vesk_ctx_free(NULL) does nothing. */
VESK_API vesk_ctx* vesk_ctx_new(void);
VESK_API void vesk_ctx_free(vesk_ctx* ctx);

/* Threads a call may use: 1 (the default), up to 256; 0 for one per core
 * the process may use. The archives never depend on it. */
VESK_API int vesk_ctx_set_threads(vesk_ctx* ctx, int threads);

/* The most memory a call may plan to use, in bytes; 0 (the default): no
 * limit. A call lowers its thread count to fit, then fails with
 * VESK_ERROR_MEMORY when even one thread would need more. */
VESK_API int vesk_ctx_set_memory_limit(vesk_ctx* ctx, uint64_t bytes);

/* The frame size of streams and of inputs too large for a single
 * archive: 65,536 to 1,001,000,000 bytes; 0 (the default): 64 MiB, as the
 * program gives a pipe. */
VESK_API int vesk_ctx_set_frame_size(vesk_ctx* ctx, uint64_t bytes);

/* Called now and then during a call, possibly from the call's other
 * threads but never from two at once, with the input bytes done and in
 * all (UINT64_MAX when unknown). A non-zero return cancels the call
 * (VESK_ERROR_CANCELLED). NULL: none. */
typedef int (*vesk_progress_fn)(void* user, uint64_t done, uint64_t total);
VESK_API void vesk_ctx_set_progress(vesk_ctx* ctx, vesk_progress_fn fn, void* user);

/* What went wrong in the context's last failed call ("" after a success);
 * valid until the next call with the context. */
VESK_API const char* vesk_ctx_error(const vesk_ctx* ctx);

/* The most an archive of n bytes can take: a compress buffer of this size
 * never gets VESK_ERROR_BUFFER. */
VESK_API size_t vesk_compress_bound(size_t n);

/* About how many bytes of memory compressing (or restoring) n bytes takes
 * with that method and level, on one thread. */
VESK_API uint64_t vesk_memory_estimate(uint64_t n, int method, int level);

/* Compresses src[0..n) into dst (cap bytes): one archive, its size in
 * *written. */
VESK_API int vesk_compress(vesk_ctx* ctx, const void* src, size_t n, void* dst, size_t cap,
                           size_t* written, int method, int level);

/* The size of what an archive restores, from its headers. */
VESK_API int vesk_decompressed_size(const void* src, size_t n, uint64_t* size);

/* Restores an archive into dst (cap bytes), its size in *written: only
 * once the data is verified against its checksum. */
VESK_API int vesk_decompress(vesk_ctx* ctx, const void* src, size_t n, void* dst, size_t cap,
                             size_t* written);

/* Streams, for inputs larger than memory: the input goes in and the
 * output comes out in pieces of any size. Each call takes all of the
 * input given (*in_used), and gives out up to out_size bytes (*out_used);
 * with finish non-zero the input has ended. A compressing stream writes a
 * framed archive, frame by frame, byte for byte the program's `vesk -T1`
 * archive of the same input through a pipe (`--method`, `--frame-size`,
 * `-9` as the stream's settings); a restoring stream reads any archive,
 * and gives out each frame once it is verified. Call with finish until
 * VESK_END. A stream keeps its context, which must outlive it. */
typedef struct vesk_stream vesk_stream;
VESK_API vesk_stream* vesk_compress_stream_new(vesk_ctx* ctx, int method, int level);
VESK_API vesk_stream* vesk_decompress_stream_new(vesk_ctx* ctx);
VESK_API int vesk_stream_run(vesk_stream* s, const void* in, size_t in_size, size_t* in_used,
                             void* out, size_t out_size, size_t* out_used, int finish);
VESK_API void vesk_stream_free(vesk_stream* s);

#ifdef __cplusplus
}
#endif

#endif /* VESK_H */
