#pragma once
// A read cursor over untrusted bytes. Every read is bounds-checked; a read past the end
// sets a sticky failure flag and yields zeros, so a caller checks ok() once per record.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mapinfo {

class ByteCursor {
public:
    explicit ByteCursor(std::string_view data) : m_data(data) {}

    std::uint8_t U8() {
        if (!Need(1)) return 0;
        return static_cast<std::uint8_t>(m_data[m_pos++]);
    }
    std::uint16_t U16LE() {
        if (!Need(2)) return 0;
        std::uint16_t v = static_cast<std::uint16_t>(Byte(0) | (Byte(1) << 8));
        m_pos += 2;
        return v;
    }
    std::uint32_t U32LE() {
        if (!Need(4)) return 0;
        std::uint32_t v = Byte(0) | (Byte(1) << 8) | (Byte(2) << 16) | (std::uint32_t{Byte(3)} << 24);
        m_pos += 4;
        return v;
    }
    // The next n bytes; empty (and failed) when fewer remain.
    std::string_view Bytes(std::size_t n) {
        if (!Need(n)) return {};
        std::string_view v = m_data.substr(m_pos, n);
        m_pos += n;
        return v;
    }
    void Skip(std::size_t n) {
        if (Need(n)) m_pos += n;
    }
    void Seek(std::size_t pos) {
        if (pos > m_data.size()) {
            m_failed = true;
            return;
        }
        m_pos = pos;
    }

    bool ok() const { return !m_failed; }
    std::size_t pos() const { return m_pos; }
    std::size_t remaining() const { return m_data.size() - m_pos; }

private:
    bool Need(std::size_t n) {
        if (m_failed || n > m_data.size() - m_pos) {
            m_failed = true;
            return false;
        }
        return true;
    }
    std::uint32_t Byte(std::size_t i) const { return static_cast<std::uint8_t>(m_data[m_pos + i]); }

    std::string_view m_data;
    std::size_t m_pos = 0;
    bool m_failed = false;
};

}  // namespace mapinfo
