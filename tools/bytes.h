// Byte order and file names, for every format the tool reads or writes: one
// byte swapper, little- and big-endian fields, and one extension parser.
#ifndef SYNTHTAB_TOOLS_BYTES_H
#define SYNTHTAB_TOOLS_BYTES_H

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

namespace synthtab::cli {

constexpr bool kBigEndianHost = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

// Reverses the bytes of each of n values of T (2, 4 or 8 bytes) in place.
template <class T>
void swap_bytes(T *v, std::size_t n) {
  static_assert(sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8, "2, 4 or 8 bytes");
  for (std::size_t i = 0; i < n; i++) {
    if constexpr (sizeof(T) == 2) {
      uint16_t u;
      std::memcpy(&u, v + i, 2);
      u = __builtin_bswap16(u);
      std::memcpy(v + i, &u, 2);
    } else if constexpr (sizeof(T) == 4) {
      uint32_t u;
      std::memcpy(&u, v + i, 4);
      u = __builtin_bswap32(u);
      std::memcpy(v + i, &u, 4);
    } else {
      uint64_t u;
      std::memcpy(&u, v + i, 8);
      u = __builtin_bswap64(u);
      std::memcpy(v + i, &u, 8);
    }
  }
}

// From or to little-endian (big-endian) order in place: nothing to do on a
// little-endian (big-endian) host.
template <class T>
void little_endian(T *v, std::size_t n) {
  if constexpr (kBigEndianHost) swap_bytes(v, n);
}
template <class T>
void big_endian(T *v, std::size_t n) {
  if constexpr (!kBigEndianHost) swap_bytes(v, n);
}

// Unsigned fields of 1 to 8 bytes.
inline uint64_t get_le(const unsigned char *p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; i--) v = v << 8 | p[i];
  return v;
}
inline uint64_t get_be(const unsigned char *p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; i++) v = v << 8 | p[i];
  return v;
}
inline void put_le(std::string &s, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; i++) s += static_cast<char>(v >> (8 * i));
}
inline void put_be(std::string &s, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; i--) s += static_cast<char>(v >> (8 * i));
}

// The extension of a path's last component, lower case with its dot (".wav");
// empty for none, for "-", and for a name that only starts with a dot.
inline std::string extension(const std::string &path) {
  const std::size_t slash = path.rfind('/'), dot = path.rfind('.');
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  if (dot == std::string::npos || dot <= start) return "";
  std::string ext = path.substr(dot);
  for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

}  // namespace synthtab::cli

#endif  // SYNTHTAB_TOOLS_BYTES_H
