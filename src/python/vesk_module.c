/* vesk._vesk: libvesk's C API for Python. The coding runs with the GIL
 * released; a progress callback takes it back now and then to look for a
 * signal, so that Ctrl-C cancels a call (KeyboardInterrupt). */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "vesk.h"

static PyObject* VeskError;
static PyObject* CorruptDataError;
static PyObject* MemoryLimitError;
static PyObject* CancelledError;

/* What the progress callback found: a signal's exception is pending. */
struct call_watch {
  int interrupted;
};

static int watch_signals(void* user, uint64_t done, uint64_t total) {
  (void)done;
  (void)total;
  struct call_watch* w = (struct call_watch*)user;
  PyGILState_STATE g = PyGILState_Ensure();
  if (PyErr_CheckSignals() != 0) w->interrupted = 1;
  PyGILState_Release(g);
  return w->interrupted;
}

/* Raises the exception of a failed call; returns NULL. */
static PyObject* raise_for(int rc, vesk_ctx* ctx, struct call_watch* w) {
  if (w != NULL && w->interrupted && PyErr_Occurred()) return NULL; /* KeyboardInterrupt */
  const char* detail = ctx != NULL ? vesk_ctx_error(ctx) : "";
  PyObject* type = VeskError;
  switch (rc) {
    case VESK_ERROR_CORRUPT:
      type = CorruptDataError;
      break;
    case VESK_ERROR_MEMORY:
      type = MemoryLimitError;
      break;
    case VESK_ERROR_CANCELLED:
      type = CancelledError;
      break;
    case VESK_ERROR_ARGUMENT:
      type = PyExc_ValueError;
      break;
    default:
      break;
  }
  PyErr_Format(type, "%s: %s", vesk_error_name(rc), detail != NULL && *detail ? detail : "failed");
  return NULL;
}

static int method_of(const char* name) {
  if (name == NULL || strcmp(name, "auto") == 0) return VESK_METHOD_AUTO;
  if (strcmp(name, "text") == 0) return VESK_METHOD_TEXT;
  if (strcmp(name, "mixed") == 0) return VESK_METHOD_MIXED;
  if (strcmp(name, "stored") == 0) return VESK_METHOD_STORED;
  return -1;
}

/* A context with the settings of a call; NULL with an exception set. */
static vesk_ctx* new_context(int threads, unsigned long long memory_limit, unsigned long long frame_size,
                             struct call_watch* w) {
  vesk_ctx* ctx = vesk_ctx_new();
  if (ctx == NULL) {
    PyErr_NoMemory();
    return NULL;
  }
  if (vesk_ctx_set_threads(ctx, threads) != VESK_OK || vesk_ctx_set_memory_limit(ctx, memory_limit) != VESK_OK ||
      vesk_ctx_set_frame_size(ctx, frame_size) != VESK_OK) {
    vesk_ctx_free(ctx);
    PyErr_SetString(PyExc_ValueError, "threads must be 0 to 256, frame_size 0 or 65536 to 1001000000");
    return NULL;
  }
  vesk_ctx_set_progress(ctx, watch_signals, w);
  return ctx;
}

/* The end of a one-shot call: the context freed, and the output cut to
 * the n bytes written, or the call's error raised (an output that could
 * not be had has raised MemoryError already). */
static PyObject* one_shot_result(int rc, vesk_ctx* ctx, struct call_watch* w, PyObject* out, size_t n) {
  if (rc != VESK_OK) {
    if (out != NULL) {
      Py_DECREF(out);
      raise_for(rc, ctx, w);
    } else if (!PyErr_Occurred()) {
      raise_for(rc, ctx, w);
    }
    vesk_ctx_free(ctx);
    return NULL;
  }
  vesk_ctx_free(ctx);
  if (_PyBytes_Resize(&out, (Py_ssize_t)n) != 0) return NULL;
  return out;
}

static PyObject* vesk_compress_py(PyObject* self, PyObject* args, PyObject* kw) {
  (void)self;
  static char* names[] = {"data", "method", "level", "threads", "memory_limit", NULL};
  Py_buffer in;
  const char* method = "auto";
  int level = 0, threads = 1;
  unsigned long long memory_limit = 0;
  if (!PyArg_ParseTupleAndKeywords(args, kw, "y*|$siiK", names, &in, &method, &level, &threads,
                                   &memory_limit))
    return NULL;
  const int m = method_of(method);
  if (m < 0 || (level != 0 && level != 9)) {
    PyBuffer_Release(&in);
    PyErr_SetString(PyExc_ValueError, "method is auto, text, mixed or stored; level 0 or 9");
    return NULL;
  }
  struct call_watch w = {0};
  vesk_ctx* ctx = new_context(threads, memory_limit, 0, &w);
  if (ctx == NULL) {
    PyBuffer_Release(&in);
    return NULL;
  }
  const size_t cap = vesk_compress_bound((size_t)in.len);
  PyObject* out = PyBytes_FromStringAndSize(NULL, (Py_ssize_t)cap);
  size_t n = 0;
  int rc = VESK_ERROR_MEMORY;
  if (out != NULL) {
    char* dst = PyBytes_AS_STRING(out);
    Py_BEGIN_ALLOW_THREADS rc = vesk_compress(ctx, in.buf, (size_t)in.len, dst, cap, &n, m, level);
    Py_END_ALLOW_THREADS
  }
  PyBuffer_Release(&in);
  return one_shot_result(rc, ctx, &w, out, n);
}

static PyObject* vesk_decompress_py(PyObject* self, PyObject* args, PyObject* kw) {
  (void)self;
  static char* names[] = {"data", "threads", "memory_limit", NULL};
  Py_buffer in;
  int threads = 1;
  unsigned long long memory_limit = 0;
  if (!PyArg_ParseTupleAndKeywords(args, kw, "y*|$iK", names, &in, &threads, &memory_limit)) return NULL;
  struct call_watch w = {0};
  vesk_ctx* ctx = new_context(threads, memory_limit, 0, &w);
  if (ctx == NULL) {
    PyBuffer_Release(&in);
    return NULL;
  }
  uint64_t size = 0;
  int rc = vesk_decompressed_size(in.buf, (size_t)in.len, &size);
  PyObject* out = NULL;
  size_t n = 0;
  if (rc == VESK_OK) {
    if (size > (uint64_t)PY_SSIZE_T_MAX) {
      rc = VESK_ERROR_CORRUPT;
    } else {
      out = PyBytes_FromStringAndSize(NULL, (Py_ssize_t)size);
      if (out == NULL) {
        PyBuffer_Release(&in);
        vesk_ctx_free(ctx);
        return NULL;
      }
      char* dst = PyBytes_AS_STRING(out);
      Py_BEGIN_ALLOW_THREADS rc = vesk_decompress(ctx, in.buf, (size_t)in.len, dst, (size_t)size, &n);
      Py_END_ALLOW_THREADS
    }
  }
  PyBuffer_Release(&in);
  return one_shot_result(rc, ctx, &w, out, n);
}

/* Compressor and Decompressor: one stream each. */
typedef struct {
  PyObject_HEAD vesk_ctx* ctx;
  vesk_stream* stream;
  struct call_watch watch;
  int finished; /* flush() has run (Compressor) or the stream has ended (Decompressor) */
  int failed;
  PyThread_type_lock lock; /* one call at a time */
} stream_object;

/* Runs the stream over the input (finish: its end) and gathers its output. */
static PyObject* run_stream(stream_object* s, const char* in, Py_ssize_t len, int finish) {
  if (s->finished) {
    PyErr_SetString(PyExc_EOFError, "the stream has ended");
    return NULL;
  }
  Py_ssize_t cap = 65536, have = 0;
  PyObject* out = PyBytes_FromStringAndSize(NULL, cap);
  if (out == NULL) return NULL;
  size_t at = 0;
  int rc = VESK_OK;
  PyThread_acquire_lock(s->lock, 1);
  for (;;) {
    size_t used = 0, made = 0;
    char* dst = PyBytes_AS_STRING(out) + have;
    const size_t room = (size_t)(cap - have);
    Py_BEGIN_ALLOW_THREADS rc = vesk_stream_run(s->stream, in + at, (size_t)len - at, &used, dst, room, &made, finish);
    Py_END_ALLOW_THREADS
    at += used;
    have += (Py_ssize_t)made;
    if (rc != VESK_OK && rc != VESK_END) break;
    if (rc == VESK_END) break;
    if (have == cap) {
      cap *= 2;
      if (_PyBytes_Resize(&out, cap) != 0) {
        PyThread_release_lock(s->lock);
        return NULL;
      }
      continue;
    }
    if (at == (size_t)len && !finish) break; /* all taken, all given out */
  }
  PyThread_release_lock(s->lock);
  if (rc != VESK_OK && rc != VESK_END) {
    Py_DECREF(out);
    s->failed = 1;
    return raise_for(rc, s->ctx, &s->watch);
  }
  if (rc == VESK_END) s->finished = 1;
  if (_PyBytes_Resize(&out, have) != 0) return NULL;
  return out;
}

static void stream_dealloc(stream_object* s) {
  vesk_stream_free(s->stream);
  vesk_ctx_free(s->ctx);
  if (s->lock != NULL) PyThread_free_lock(s->lock);
  Py_TYPE(s)->tp_free((PyObject*)s);
}

static int stream_setup(stream_object* s, int threads, unsigned long long memory_limit,
                        unsigned long long frame_size) {
  s->watch.interrupted = 0;
  s->ctx = new_context(threads, memory_limit, frame_size, &s->watch);
  if (s->ctx == NULL) return -1;
  s->lock = PyThread_allocate_lock();
  if (s->lock == NULL) {
    PyErr_NoMemory();
    return -1;
  }
  return 0;
}

static int compressor_init(stream_object* s, PyObject* args, PyObject* kw) {
  static char* names[] = {"method", "level", "threads", "memory_limit", "frame_size", NULL};
  const char* method = "auto";
  int level = 0, threads = 1;
  unsigned long long memory_limit = 0, frame_size = 0;
  if (!PyArg_ParseTupleAndKeywords(args, kw, "|$siiKK", names, &method, &level, &threads, &memory_limit,
                                   &frame_size))
    return -1;
  const int m = method_of(method);
  if (m < 0 || (level != 0 && level != 9)) {
    PyErr_SetString(PyExc_ValueError, "method is auto, text, mixed or stored; level 0 or 9");
    return -1;
  }
  if (stream_setup(s, threads, memory_limit, frame_size) != 0) return -1;
  s->stream = vesk_compress_stream_new(s->ctx, m, level);
  if (s->stream == NULL) {
    PyErr_NoMemory();
    return -1;
  }
  return 0;
}

static int decompressor_init(stream_object* s, PyObject* args, PyObject* kw) {
  static char* names[] = {"threads", "memory_limit", NULL};
  int threads = 1;
  unsigned long long memory_limit = 0;
  if (!PyArg_ParseTupleAndKeywords(args, kw, "|$iK", names, &threads, &memory_limit)) return -1;
  if (stream_setup(s, threads, memory_limit, 0) != 0) return -1;
  s->stream = vesk_decompress_stream_new(s->ctx);
  if (s->stream == NULL) {
    PyErr_NoMemory();
    return -1;
  }
  return 0;
}

static PyObject* stream_feed(stream_object* s, PyObject* args) {
  Py_buffer in;
  if (!PyArg_ParseTuple(args, "y*", &in)) return NULL;
  PyObject* out = run_stream(s, in.buf, in.len, 0);
  PyBuffer_Release(&in);
  return out;
}

static PyObject* stream_flush(stream_object* s, PyObject* unused) {
  (void)unused;
  return run_stream(s, "", 0, 1);
}

static PyObject* stream_eof(stream_object* s, void* unused) {
  (void)unused;
  return PyBool_FromLong(s->finished);
}

static PyMethodDef compressor_methods[] = {
    {"compress", (PyCFunction)stream_feed, METH_VARARGS,
     "compress(data) -> bytes: the archive's bytes ready so far"},
    {"flush", (PyCFunction)stream_flush, METH_NOARGS, "flush() -> bytes: the rest of the archive"},
    {NULL, NULL, 0, NULL}};

static PyMethodDef decompressor_methods[] = {
    {"decompress", (PyCFunction)stream_feed, METH_VARARGS,
     "decompress(data) -> bytes: what the archive's bytes so far restore, verified"},
    {"flush", (PyCFunction)stream_flush, METH_NOARGS,
     "flush() -> bytes: the rest, once the archive has ended (its checks made)"},
    {NULL, NULL, 0, NULL}};

static PyGetSetDef stream_getset[] = {{"eof", (getter)stream_eof, NULL, "the stream has ended", NULL},
                                      {NULL, NULL, NULL, NULL, NULL}};

static PyTypeObject CompressorType = {
    PyVarObject_HEAD_INIT(NULL, 0).tp_name = "vesk._vesk.Compressor",
    .tp_basicsize = sizeof(stream_object),
    .tp_dealloc = (destructor)stream_dealloc,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc = "Compressor(*, method='auto', level=0, threads=1, memory_limit=0, frame_size=0):\n"
              "compresses a stream into a framed archive",
    .tp_methods = compressor_methods,
    .tp_getset = stream_getset,
    .tp_init = (initproc)compressor_init,
    .tp_new = PyType_GenericNew,
};

static PyTypeObject DecompressorType = {
    PyVarObject_HEAD_INIT(NULL, 0).tp_name = "vesk._vesk.Decompressor",
    .tp_basicsize = sizeof(stream_object),
    .tp_dealloc = (destructor)stream_dealloc,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc = "Decompressor(*, threads=1, memory_limit=0): restores an archive given in pieces",
    .tp_methods = decompressor_methods,
    .tp_getset = stream_getset,
    .tp_init = (initproc)decompressor_init,
    .tp_new = PyType_GenericNew,
};

static PyMethodDef module_methods[] = {
    {"compress", (PyCFunction)(void (*)(void))vesk_compress_py, METH_VARARGS | METH_KEYWORDS,
     "compress(data, *, method='auto', level=0, threads=1, memory_limit=0) -> bytes"},
    {"decompress", (PyCFunction)(void (*)(void))vesk_decompress_py, METH_VARARGS | METH_KEYWORDS,
     "decompress(data, *, threads=1, memory_limit=0) -> bytes"},
    {NULL, NULL, 0, NULL}};

static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "vesk._vesk", "libvesk for Python", -1,
                                    module_methods, NULL, NULL, NULL, NULL};

PyMODINIT_FUNC PyInit__vesk(void) {
  if (PyType_Ready(&CompressorType) < 0 || PyType_Ready(&DecompressorType) < 0) return NULL;
  PyObject* m = PyModule_Create(&module);
  if (m == NULL) return NULL;
  VeskError = PyErr_NewException("vesk.VeskError", NULL, NULL);
  CorruptDataError = PyErr_NewException("vesk.CorruptDataError", VeskError, NULL);
  MemoryLimitError = PyErr_NewException("vesk.MemoryLimitError", VeskError, NULL);
  CancelledError = PyErr_NewException("vesk.CancelledError", VeskError, NULL);
  Py_INCREF(&CompressorType);
  Py_INCREF(&DecompressorType);
  if (PyModule_AddObject(m, "VeskError", VeskError) < 0 ||
      PyModule_AddObject(m, "CorruptDataError", CorruptDataError) < 0 ||
      PyModule_AddObject(m, "MemoryLimitError", MemoryLimitError) < 0 ||
      PyModule_AddObject(m, "CancelledError", CancelledError) < 0 ||
      PyModule_AddObject(m, "Compressor", (PyObject*)&CompressorType) < 0 ||
      PyModule_AddObject(m, "Decompressor", (PyObject*)&DecompressorType) < 0 ||
      PyModule_AddStringConstant(m, "LIBRARY_VERSION", vesk_version()) < 0) {
    Py_DECREF(m);
    return NULL;
  }
  return m;
}
