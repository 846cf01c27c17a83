// Neutral document files: read whole, refuse with a named fault, write to a
// temporary name beside the target and rename only when everything was
// written; only regular files are ever replaced.
#include "qelx_formats/neutral_document.hxx"

#include "qelx/framework_walk.hxx"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

namespace qelx_formats {

QELIResult readNeutralDocument(const std::string& path, qelx_test::TestModel& model, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": cannot be opened";
        return QELI_FILE_NOT_OPENED;
    }
    const QELIResult result = readNeutralDocument(fd, path, model, error);
    ::close(fd);
    return result;
}

QELIResult readNeutralDocument(int fd, const std::string& path, qelx_test::TestModel& model, std::string& error)
{
    // Read in pieces as the parser goes: neither the text nor a tree of it
    // is ever whole in memory.
    std::vector<char> buffer(std::size_t(1) << 20);
    bool readFailed = false;
    const TextPull pull = [&](std::string_view& piece) {
        ssize_t n;
        do
            n = ::read(fd, buffer.data(), buffer.size());
        while (n < 0 && errno == EINTR);
        if (n <= 0) {
            readFailed = n < 0;
            return false;
        }
        piece = std::string_view(buffer.data(), static_cast<std::size_t>(n));
        return true;
    };
    QELIResult result = QELI_OK;
    try {
        qelx_test::TestModel read = readNeutralText(pull, path);
        if (!readFailed)
            model = std::move(read);
    } catch (const NeutralDocumentError& e) {
        error = e.what();
        result = QELI_FAIL;
    } catch (const std::exception& e) {
        // Anything the checks did not foresee is still a refusal, not a crash.
        error = path + ": " + e.what();
        result = QELI_FAIL;
    }
    if (readFailed) {
        error = path + ": read failed";
        return QELI_FAIL;
    }
    return result;
}

namespace {
std::string systemReason() { return std::strerror(errno); }

const char* kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a plain file";
}

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Writes everything or says why not; a short write is retried.
bool writeAll(int fd, const char* at, std::size_t left, std::string& reason)
{
    while (left > 0) {
        const ssize_t n = ::write(fd, at, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            reason = n < 0 ? systemReason() : "nothing could be written";
            return false;
        }
        at += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// While one lives, a file-size limit makes a write of this thread fail
// (EFBIG, a short write) instead of ending the process by its signal, which
// would leave the temporary file behind: whatever the program did with the
// signal, a write here is an error that is told and cleaned up. A signal
// raised meanwhile is taken before the mask is put back.
class FileSizeSignalHeld {
public:
    FileSizeSignalHeld()
    {
        sigemptyset(&m_one);
        sigaddset(&m_one, SIGXFSZ);
        m_held = ::pthread_sigmask(SIG_BLOCK, &m_one, &m_saved) == 0 && !sigismember(&m_saved, SIGXFSZ);
    }
    ~FileSizeSignalHeld()
    {
        if (!m_held)
            return;
        const timespec none{0, 0};
        sigset_t pending;
        while (::sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) &&
               ::sigtimedwait(&m_one, nullptr, &none) == SIGXFSZ) {
        }
        ::pthread_sigmask(SIG_SETMASK, &m_saved, nullptr);
    }
    FileSizeSignalHeld(const FileSizeSignalHeld&) = delete;
    FileSizeSignalHeld& operator=(const FileSizeSignalHeld&) = delete;

private:
    sigset_t m_one{}, m_saved{};
    bool m_held = false;
};

QELIResult writeText(const std::string& text, const std::string& path, std::string& error)
{
    std::string reason;
    const QELIResult written = writeWholeFile(text, path, reason);
    if (written != QELI_OK)
        error = path + ": " + reason;
    return written;
}
} // namespace

QELIResult resolveWriteTarget(const std::string& path, std::string& target, std::string& reason)
{
    target = path;
    struct stat about {};
    if (::lstat(path.c_str(), &about) != 0) {
        if (errno == ENOENT)
            return QELI_OK;
        reason = systemReason();
        return QELI_FILE_NOT_SAVED;
    }
    if (S_ISLNK(about.st_mode)) {
        // Written through the link: the link stays, the file it names is replaced.
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real) {
            reason = "is a symbolic link to nothing that can be written (" + systemReason() + ")";
            return QELI_FILE_NOT_SAVED;
        }
        target = real;
        std::free(real);
        if (::stat(target.c_str(), &about) != 0) {
            reason = systemReason();
            return QELI_FILE_NOT_SAVED;
        }
    }
    if (!S_ISREG(about.st_mode)) {
        reason = std::string("is ") + kindOf(about.st_mode) + ", not a regular file";
        return QELI_FILE_NOT_SAVED;
    }
    return QELI_OK;
}

QELIResult writeWholeFile(const std::string& text, const std::string& path, std::string& reason)
{
    return writeWholeFile([&](const TextPut& put, std::string&) { return put(text.data(), text.size()); }, path,
                          reason);
}

QELIResult writeWholeFile(const std::function<bool(const TextPut& put, std::string& reason)>& produce,
                          const std::string& path, std::string& reason)
{
    std::string target;
    if (const QELIResult resolved = resolveWriteTarget(path, target, reason); resolved != QELI_OK)
        return resolved;
    struct stat old {};
    const bool replacing = ::stat(target.c_str(), &old) == 0;
    // A short name of its own beside the target: it fits wherever the target's name fits.
    static unsigned serial = 0;
    const std::string folder = folderOf(target);
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        char name[40];
        std::snprintf(name, sizeof name, "/.qelx%08x.tmp",
                      static_cast<unsigned>(::getpid()) * 2654435761u + serial++ * 40503u +
                          static_cast<unsigned>(std::time(nullptr)));
        temporary = folder + name;
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            reason = "cannot be written (" + systemReason() + ")";
            return QELI_FILE_NOT_SAVED;
        }
    }
    if (fd < 0) {
        reason = "cannot be written (no free temporary name beside it)";
        return QELI_FILE_NOT_SAVED;
    }
    const FileSizeSignalHeld held;
    bool ok = produce([&](const char* data, std::size_t size) { return writeAll(fd, data, size, reason); }, reason);
    if (ok && replacing && ::fchmod(fd, old.st_mode & 07777) != 0) {
        reason = systemReason();
        ok = false;
    }
    if (ok && ::fsync(fd) != 0) {
        reason = systemReason();
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        reason = systemReason();
        ok = false;
    }
    if (ok && std::rename(temporary.c_str(), target.c_str()) != 0) {
        reason = "cannot be replaced (" + systemReason() + ")";
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        if (reason.rfind("cannot", 0) != 0)
            reason = "write failed (" + reason + ")";
        return QELI_FILE_NOT_SAVED;
    }
    return QELI_OK;
}

QELIResult writeNeutralDocument(const qelx_test::TestModel& model, const std::string& path, std::string& error)
{
    std::string text;
    try {
        text = writeNeutralText(model);
    } catch (const std::exception& e) {
        error = path + ": " + e.what();
        return QELI_FAIL;
    }
    return writeText(text, path, error);
}

QELIResult writeNeutralDocument(QELXBRepExporter* exporter, const std::string& path, std::string& error,
                                qelx_test::WalkSummary* summary)
{
    NeutralDocumentStream stream(path);
    if (qelx_test::walkExporter(exporter, stream, summary) != QELI_OK) {
        error = path + ": the exporter could not be walked";
        return QELI_FAIL;
    }
    std::string reason;
    if (const QELIResult written = stream.commit(reason); written != QELI_OK) {
        error = path + ": " + reason;
        return written;
    }
    return QELI_OK;
}

} // namespace qelx_formats
