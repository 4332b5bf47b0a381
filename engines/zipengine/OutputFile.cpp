#include "OutputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace zipengine {

namespace {
constexpr size_t kBufferSize = size_t(1) << 20;

bool WriteAll(int fd, const unsigned char* p, size_t n, uint64_t at) {
    while (n > 0) {
        ssize_t w = pwrite(fd, p, n, off_t(at));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= size_t(w);
        at += uint64_t(w);
    }
    return true;
}
}  // namespace

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::CreateIn(const std::string& folder) {
    std::string name = (folder.empty() ? std::string(".") : folder);
    if (name.back() != '/') name += '/';
    name += "zipXXXXXX";
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back('\0');
    m_fd = mkstemp(buf.data());
    if (m_fd < 0) {
        m_error = errno;
        return false;
    }
    m_path = buf.data();
    m_buffer.reserve(kBufferSize);
    return true;
}

void OutputFile::Write(const void* data, size_t size) {
    if (m_error) return;
    const auto* p = static_cast<const unsigned char*>(data);
    if (m_buffer.size() + size > kBufferSize) Flush();
    if (size >= kBufferSize) {
        if (!WriteAll(m_fd, p, size, m_flushed)) m_error = errno ? errno : EIO;
        m_flushed += size;
        return;
    }
    m_buffer.insert(m_buffer.end(), p, p + size);
}

void OutputFile::Flush() {
    if (m_error || m_buffer.empty()) return;
    if (!WriteAll(m_fd, m_buffer.data(), m_buffer.size(), m_flushed)) m_error = errno ? errno : EIO;
    m_flushed += m_buffer.size();
    m_buffer.clear();
}

void OutputFile::Patch(uint64_t position, const void* data, size_t size) {
    if (m_error) return;
    const auto* p = static_cast<const unsigned char*>(data);
    // The part already on disk, then the part still in the buffer.
    while (size > 0 && position < m_flushed) {
        size_t n = size_t(std::min<uint64_t>(size, m_flushed - position));
        if (!WriteAll(m_fd, p, n, position)) {
            m_error = errno ? errno : EIO;
            return;
        }
        p += n;
        position += n;
        size -= n;
    }
    if (size > 0) std::memcpy(m_buffer.data() + (position - m_flushed), p, size);
}

void OutputFile::Truncate(uint64_t position) {
    Flush();
    if (m_error) return;
    if (ftruncate(m_fd, off_t(position)) != 0) m_error = errno;
    m_flushed = position;
}

bool OutputFile::Finish() {
    Flush();
    if (!m_error && fsync(m_fd) != 0) m_error = errno;
    if (m_fd >= 0 && close(m_fd) != 0 && !m_error) m_error = errno;
    m_fd = -1;
    return m_error == 0;
}

void OutputFile::Discard() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
    if (!m_path.empty()) unlink(m_path.c_str());
    m_path.clear();
}

}  // namespace zipengine
