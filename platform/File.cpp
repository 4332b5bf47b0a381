// What the file object does the same way on every platform: reading through a stream buffer,
// and copying through a buffer where the system offers no copy of its own.
#include "platform/File.h"

#include <algorithm>

namespace platform {

File::CopyResult File::CopyThroughBuffer(File& target, std::uint64_t size, CopyResult result) {
    thread_local std::vector<char> buffer;
    if (buffer.empty()) buffer.resize(1 << 20);
    while (result.copied < size) {
        const auto want = static_cast<std::int64_t>(std::min<std::uint64_t>(buffer.size(), size - result.copied));
        const std::int64_t got = Read(buffer.data(), want);
        if (got < 0) {
            result.error = SysError::Last();
            return result;
        }
        if (got == 0) break;
        if (auto err = target.Write(buffer.data(), got)) {
            result.error = err;
            return result;
        }
        result.copied += static_cast<std::uint64_t>(got);
    }
    return result;
}

FileReadBuffer::int_type FileReadBuffer::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    const std::int64_t next = m_bufferStart + (egptr() - eback());
    std::int64_t want = static_cast<std::int64_t>(m_buffer.size());
    if (m_size) want = std::min<std::int64_t>(want, static_cast<std::int64_t>(*m_size) - next);
    if (want <= 0) return traits_type::eof();
    const std::int64_t n = m_file.ReadAt(m_buffer.data(), want, next);
    if (n <= 0) return traits_type::eof();
    m_bufferStart = next;
    setg(m_buffer.data(), m_buffer.data(), m_buffer.data() + n);
    return traits_type::to_int_type(*gptr());
}

FileReadBuffer::pos_type FileReadBuffer::seekoff(off_type offset, std::ios_base::seekdir way,
                                                 std::ios_base::openmode which) {
    const pos_type failed(off_type(-1));
    if (!(which & std::ios_base::in)) return failed;
    std::int64_t base = 0;
    if (way == std::ios_base::cur) base = m_bufferStart + (gptr() - eback());
    else if (way == std::ios_base::end) base = m_size ? static_cast<std::int64_t>(*m_size) : m_file.Size();
    if (base < 0) return failed;
    const std::int64_t target = base + offset;
    if (target < 0) return failed;
    const std::int64_t buffered = egptr() - eback();
    if (target >= m_bufferStart && target <= m_bufferStart + buffered) {
        setg(eback(), eback() + (target - m_bufferStart), egptr());
    } else {
        m_bufferStart = target;
        setg(m_buffer.data(), m_buffer.data(), m_buffer.data());
    }
    return pos_type(target);
}

FileReadBuffer::pos_type FileReadBuffer::seekpos(pos_type position, std::ios_base::openmode which) {
    return seekoff(off_type(position), std::ios_base::beg, which);
}

}  // namespace platform
