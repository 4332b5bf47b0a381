#include "platform/File.h"

namespace platform {

FileReadBuffer::int_type FileReadBuffer::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    const std::int64_t next = m_bufferStart + (egptr() - eback());
    const std::int64_t n = m_file.ReadAt(m_buffer.data(), static_cast<std::int64_t>(m_buffer.size()), next);
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
    else if (way == std::ios_base::end) base = m_file.Size();
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
