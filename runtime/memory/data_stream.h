// Little-endian streams over serialised runtime data (window templates, component data). Every
// read checks the bytes left; a read past the end, or a negative length, puts the reader into a
// failed state in which further reads give nothing, so a caller checks once at the end.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace qv {

class DataReader {
 public:
  explicit DataReader(std::span<const unsigned char> data) : m_data(data) {}

  bool ok() const { return m_ok; }
  size_t remaining() const { return m_ok ? m_data.size() - m_pos : 0; }
  size_t position() const { return m_pos; }

  int32_t Int32() {
    int32_t v = 0;
    if (Take(4)) std::memcpy(&v, m_data.data() + m_pos - 4, 4);
    return v;
  }
  int16_t Int16() {
    int16_t v = 0;
    if (Take(2)) std::memcpy(&v, m_data.data() + m_pos - 2, 2);
    return v;
  }
  // int32 length n, then n bytes.
  std::vector<unsigned char> Blob() {
    const std::span<const unsigned char> bytes = Counted();
    return {bytes.begin(), bytes.end()};
  }
  // int32 length n, then n bytes of text without a NUL.
  std::string CountedText() {
    const std::span<const unsigned char> bytes = Counted();
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
  }
  // Bytes up to a NUL, which is consumed; failing when there is none.
  std::string NulText() {
    if (!m_ok) return {};
    const void* nul = std::memchr(m_data.data() + m_pos, 0, m_data.size() - m_pos);
    if (nul == nullptr) return Fail(), std::string();
    const size_t n = static_cast<size_t>(static_cast<const unsigned char*>(nul) - (m_data.data() + m_pos));
    std::string text(reinterpret_cast<const char*>(m_data.data() + m_pos), n);
    m_pos += n + 1;
    return text;
  }
  std::span<const unsigned char> Bytes(size_t n) {
    if (!Take(n)) return {};
    return m_data.subspan(m_pos - n, n);
  }
  std::span<const unsigned char> Rest() { return Bytes(remaining()); }
  void Fail() { m_ok = false; }

 private:
  bool Take(size_t n) {
    if (!m_ok || m_data.size() - m_pos < n) return m_ok = false;
    m_pos += n;
    return true;
  }
  std::span<const unsigned char> Counted() {
    const int32_t n = Int32();
    if (n < 0) return Fail(), std::span<const unsigned char>();
    return Bytes(static_cast<size_t>(n));
  }

  std::span<const unsigned char> m_data;
  size_t m_pos = 0;
  bool m_ok = true;
};

class DataWriter {
 public:
  void Int32(int32_t v) { Append(&v, 4); }
  void Int16(int16_t v) { Append(&v, 2); }
  void Blob(std::span<const unsigned char> bytes) {
    Int32(static_cast<int32_t>(bytes.size()));
    Append(bytes.data(), bytes.size());
  }
  void CountedText(const std::string& text) {
    Int32(static_cast<int32_t>(text.size()));
    Append(text.data(), text.size());
  }
  void NulText(const std::string& text) { Append(text.c_str(), text.size() + 1); }
  void Bytes(std::span<const unsigned char> bytes) { Append(bytes.data(), bytes.size()); }
  std::vector<unsigned char>& data() { return m_data; }
  std::vector<unsigned char> Take() { return std::move(m_data); }

 private:
  void Append(const void* p, size_t n) {
    if (n) m_data.insert(m_data.end(), static_cast<const unsigned char*>(p), static_cast<const unsigned char*>(p) + n);
  }
  std::vector<unsigned char> m_data;
};

}  // namespace qv
