#include "driver/trailer.h"

#include <xxhash.h>

#include <cstring>

#include "coding/predictor_rows_first.h"
#include "driver/containers.h"
#include "util/bytes.h"
#include "util/fail.h"

namespace vesk {

namespace {
constexpr uint8_t marker[4] = {'V', 'S', 'K', '2'};        // the current rows
constexpr uint8_t first_marker[4] = {'X', 'X', 'H', '3'};  // the first rows
}  // namespace

uint64_t content_hash(const uint8_t* data, int64_t n) {
  return XXH3_64bits(data, static_cast<size_t>(n));
}

content_hasher::content_hasher() : state(XXH3_createState()) {
  if (state == nullptr) fail_as(failure_kind::memory, "not enough memory for a checksum");
  XXH3_64bits_reset(static_cast<XXH3_state_t*>(state));
}

content_hasher::~content_hasher() {
  XXH3_freeState(static_cast<XXH3_state_t*>(state));
}

void content_hasher::add(const uint8_t* data, int64_t n) {
  XXH3_64bits_update(static_cast<XXH3_state_t*>(state), data, static_cast<size_t>(n));
}

uint64_t content_hasher::value() const {
  return XXH3_64bits_digest(static_cast<const XXH3_state_t*>(state));
}

void put_trailer(uint8_t* at, uint64_t hash) {
  std::memcpy(at, marker, sizeof marker);
  put_u32(at + 4, static_cast<uint32_t>(hash));
  put_u32(at + 8, static_cast<uint32_t>(hash >> 32));
}

checksum read_trailer(const char* in, const uint8_t* packed, int64_t end, int64_t m) {
  if (m == end) return {};
  if (m != end + trailer_bytes) refuse_damaged(in, "bytes after the last stream");
  const uint8_t* t = packed + end;
  const bool first = std::memcmp(t, first_marker, sizeof first_marker) == 0;
  if (!first && std::memcmp(t, marker, sizeof marker) != 0)
    refuse_damaged(in, "bad checksum trailer");
  return {true, uint64_t{get_u32(t + 4)} | uint64_t{get_u32(t + 8)} << 32, first};
}

model_options decoding_options(const checksum& c) {
  model_options o;
  if (c.first_rows) o.rows = predictor_rows_first;
  return o;
}

bool checksum_matches(const checksum& c, const uint8_t* restored, int64_t n) {
  return !c.present || content_hash(restored, n) == c.hash;
}

}  // namespace vesk
