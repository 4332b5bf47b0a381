#pragma once
// Little-endian records over bytes that may be short or untrusted. Every read and write is
// bounds-checked; one past the end sets a sticky failure flag (a failed read yields zeros, a
// failed write changes nothing), so a caller checks ok() once per record.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace common {

class ByteCursor {
public:
    explicit ByteCursor(std::string_view data) : m_data(data) {}
    ByteCursor(const unsigned char* data, std::size_t size) : m_data(reinterpret_cast<const char*>(data), size) {}

    std::uint8_t U8() {
        if (!Need(1)) return 0;
        return static_cast<std::uint8_t>(m_data[m_pos++]);
    }
    std::uint16_t U16LE() {
        if (!Need(2)) return 0;
        const auto v = static_cast<std::uint16_t>(Byte(0) | (Byte(1) << 8));
        m_pos += 2;
        return v;
    }
    std::uint32_t U32LE() {
        if (!Need(4)) return 0;
        const std::uint32_t v = Byte(0) | (Byte(1) << 8) | (Byte(2) << 16) | (Byte(3) << 24);
        m_pos += 4;
        return v;
    }
    std::uint64_t U64LE() {
        const std::uint64_t low = U32LE();
        const std::uint64_t high = U32LE();
        return m_failed ? 0 : low | (high << 32);
    }
    // The next n bytes; empty (and failed) when fewer remain.
    std::string_view Bytes(std::size_t n) {
        if (!Need(n)) return {};
        const std::string_view v = m_data.substr(m_pos, n);
        m_pos += n;
        return v;
    }
    void Skip(std::size_t n) {
        if (Need(n)) m_pos += n;
    }
    void Seek(std::size_t pos) {
        if (pos > m_data.size()) m_failed = true;
        else m_pos = pos;
    }

    bool ok() const { return !m_failed; }
    std::size_t pos() const { return m_pos; }
    std::size_t remaining() const { return m_failed ? 0 : m_data.size() - m_pos; }

private:
    bool Need(std::size_t n) {
        if (m_failed || n > m_data.size() - m_pos) m_failed = true;
        return !m_failed;
    }
    std::uint32_t Byte(std::size_t i) const { return static_cast<std::uint8_t>(m_data[m_pos + i]); }

    std::string_view m_data;
    std::size_t m_pos = 0;
    bool m_failed = false;
};

// Writes little-endian values into a buffer of fixed size, with the same sticky failure.
class ByteWriter {
public:
    ByteWriter(unsigned char* data, std::size_t size) : m_data(data), m_size(size) {}

    void U8(std::uint8_t v) {
        if (Need(1)) m_data[m_pos++] = v;
    }
    void U16LE(std::uint16_t v) {
        if (!Need(2)) return;
        m_data[m_pos++] = static_cast<unsigned char>(v);
        m_data[m_pos++] = static_cast<unsigned char>(v >> 8);
    }
    void U32LE(std::uint32_t v) {
        if (!Need(4)) return;
        for (int shift = 0; shift < 32; shift += 8) m_data[m_pos++] = static_cast<unsigned char>(v >> shift);
    }
    void U64LE(std::uint64_t v) {
        if (!Need(8)) return;
        for (int shift = 0; shift < 64; shift += 8) m_data[m_pos++] = static_cast<unsigned char>(v >> shift);
    }
    void Bytes(std::string_view bytes) {
        if (!Need(bytes.size())) return;
        if (!bytes.empty()) std::memcpy(m_data + m_pos, bytes.data(), bytes.size());
        m_pos += bytes.size();
    }
    void Seek(std::size_t pos) {
        if (pos > m_size) m_failed = true;
        else m_pos = pos;
    }

    bool ok() const { return !m_failed; }
    std::size_t pos() const { return m_pos; }

private:
    bool Need(std::size_t n) {
        if (m_failed || n > m_size - m_pos) m_failed = true;
        return !m_failed;
    }

    unsigned char* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    bool m_failed = false;
};

}  // namespace common
