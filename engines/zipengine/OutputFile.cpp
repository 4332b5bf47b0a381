#include "OutputFile.h"

#include <algorithm>
#include <cstring>

namespace zipengine {

namespace {
constexpr size_t kBufferSize = size_t(1) << 20;
}  // namespace

bool OutputFile::CreateIn(const std::string& folder) {
    m_error = m_file.CreateIn(folder);
    if (m_error) return false;
    m_buffer.reserve(kBufferSize);
    return true;
}

void OutputFile::Write(const void* data, size_t size) {
    if (m_error) return;
    const auto* p = static_cast<const unsigned char*>(data);
    if (m_buffer.size() + size > kBufferSize) Flush();
    if (size >= kBufferSize) {
        m_error = m_file.WriteAt(p, size, m_flushed);
        m_flushed += size;
        return;
    }
    m_buffer.insert(m_buffer.end(), p, p + size);
}

void OutputFile::Flush() {
    if (m_error || m_buffer.empty()) return;
    m_error = m_file.WriteAt(m_buffer.data(), m_buffer.size(), m_flushed);
    m_flushed += m_buffer.size();
    m_buffer.clear();
}

void OutputFile::Patch(uint64_t position, const void* data, size_t size) {
    if (m_error) return;
    const auto* p = static_cast<const unsigned char*>(data);
    // The part already on disk, then the part still in the buffer.
    while (size > 0 && position < m_flushed) {
        size_t n = size_t(std::min<uint64_t>(size, m_flushed - position));
        m_error = m_file.WriteAt(p, n, position);
        if (m_error) return;
        p += n;
        position += n;
        size -= n;
    }
    if (size > 0) std::memcpy(m_buffer.data() + (position - m_flushed), p, size);
}

void OutputFile::Truncate(uint64_t position) {
    Flush();
    if (m_error) return;
    m_error = m_file.Resize(position);
    m_flushed = position;
}

bool OutputFile::Finish() {
    Flush();
    if (m_error) return false;
    m_error = m_file.Complete();
    return m_error == 0;
}

}  // namespace zipengine
