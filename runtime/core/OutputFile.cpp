#include "OutputFile.h"

#include "RuntimeError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <utility>

#ifdef _WIN32
#include "WideText.h"

#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <climits>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace runtime {
namespace {

// How long a window waits for a reader that takes nothing.
constexpr int readerPatienceMs = 5000;

std::string named(const std::string &path)
{
    std::string text(1, '"');
    text += path;
    text += '"';
    return text;
}

// The words from pieces (appended: GCC 12 -O3 warns wrongly on "..." + std::string).
[[noreturn]] void fail(std::initializer_list<std::string_view> pieces, int error = 0)
{
    std::string words;
    for (const std::string_view piece : pieces)
        words += piece;
    if (error)
        words.append(": ").append(std::strerror(error));
    throw RuntimeError(ErrorNumber::ControlFailed, words);
}

struct Found {
    bool exists = false;
    bool folder = false;
    bool regular = false;
    unsigned mode = 0;
};

// The platform's side: what a path is, and the calls on descriptors.
#ifdef _WIN32

constexpr const char *separators = "\\/";
constexpr int standardOutput = 1;

int processId() { return static_cast<int>(GetCurrentProcessId()); }

std::string followed(const std::string &path) { return path; }

Found found(const std::string &path)
{
    const DWORD attributes = GetFileAttributesW(utf16(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return {};
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return {true, folder, !folder && !(attributes & FILE_ATTRIBUTE_DEVICE), 0};
}

int createExclusive(const std::string &name, unsigned)
{
    return _wopen(utf16(name).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
}

int openExisting(const std::string &path)
{
    return _wopen(utf16(path).c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
}

bool canWrite(const std::string &path) { return _waccess(utf16(path).c_str(), 2) == 0; }

void waitWhenReady(int) {}

bool renameOver(const std::string &from, const std::string &to)
{
    if (MoveFileExW(utf16(from).c_str(), utf16(to).c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return false;
}

void removeFile(const std::string &path) { _wremove(utf16(path).c_str()); }

long writeSome(int descriptor, const char *data, std::size_t size)
{
    return _write(descriptor, data, static_cast<unsigned>(size));
}

bool syncAndClose(int descriptor) { return (_commit(descriptor) | _close(descriptor)) == 0; }

bool waitToWrite(int) { return false; }

#else

constexpr const char *separators = "/";
constexpr int standardOutput = STDOUT_FILENO;

int processId() { return static_cast<int>(getpid()); }

// A symlink's target, link by link, also when the target does not exist yet.
std::string followed(std::string path)
{
    constexpr int mostLinks = 40; // as the kernel's own limit
    for (int links = 0; links < mostLinks; ++links) {
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
            return path;
        std::string link(PATH_MAX, '\0');
        const ssize_t length = readlink(path.c_str(), link.data(), link.size());
        if (length <= 0)
            return path;
        link.resize(static_cast<std::size_t>(length));
        const auto slash = path.rfind('/');
        if (link.front() == '/' || slash == std::string::npos)
            path = link;
        else
            path.erase(slash + 1).append(link); // relative to the link's folder
    }
    return path;
}

Found found(const std::string &path)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        return {};
    return {true, S_ISDIR(status.st_mode), S_ISREG(status.st_mode), status.st_mode & 07777u};
}

int createExclusive(const std::string &name, unsigned mode)
{
    const int descriptor = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor >= 0 && mode != 0 && fchmod(descriptor, mode) != 0) {
        const int error = errno;
        close(descriptor);
        unlink(name.c_str());
        errno = error;
        return -1;
    }
    return descriptor;
}

// Without waiting: a FIFO that no program reads fails with ENXIO instead of
// blocking until one comes.
int openExisting(const std::string &path)
{
    return open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

bool canWrite(const std::string &path) { return access(path.c_str(), W_OK) == 0; }

// A command line program waits for its reader as any would.
void waitWhenReady(int descriptor)
{
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
}

bool renameOver(const std::string &from, const std::string &to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

void removeFile(const std::string &path) { unlink(path.c_str()); }

long writeSome(int descriptor, const char *data, std::size_t size)
{
    return ::write(descriptor, data, size);
}

// The data on the disk before the rename makes it the user's file.
bool syncAndClose(int descriptor) { return (fsync(descriptor) | close(descriptor)) == 0; }

bool waitToWrite(int descriptor)
{
    pollfd writable{descriptor, POLLOUT, 0};
    return poll(&writable, 1, readerPatienceMs) == 1;
}

#endif

std::string folderOf(const std::string &path)
{
    const auto slash = path.find_last_of(separators);
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

} // namespace

OutputFile::OutputFile(std::string path, Waiting waiting)
    : path_(std::move(path)), target_(followed(path_)), waiting_(waiting)
{
    if (path_.empty())
        fail({"name a file to write, or - for standard output"});
    if (isStandardOutput(path_)) {
        descriptor_ = standardOutput;
        return;
    }
    const Found what = found(target_);
    if (what.folder)
        fail({"cannot write ", named(path_), ": it is a folder; name a file in it"});
    if (what.exists && !what.regular)
        openInPlace(target_);
    else if (what.exists && !canWrite(target_))
        fail({"cannot write ", named(path_)}, errno);
    else
        openBeside(target_);
}

OutputFile::~OutputFile()
{
    if (descriptor_ >= 0 && descriptor_ != standardOutput)
        syncAndClose(descriptor_);
    if (!done_ && !temporary_.empty())
        removeFile(temporary_);
}

void OutputFile::openInPlace(const std::string &target)
{
    descriptor_ = openExisting(target);
    if (descriptor_ < 0 && errno == ENXIO)
        fail({"cannot write ", named(path_), ": no program is reading it; start the reader first"});
    if (descriptor_ < 0)
        fail({"cannot write ", named(path_)}, errno);
    if (waiting_ == Waiting::Block)
        waitWhenReady(descriptor_);
}

// Under a name of this run's beside the target, created anew, so that no other
// run writes into it; the target's mode if it exists.
void OutputFile::openBeside(const std::string &target)
{
    const unsigned mode = found(target).mode;
    for (int attempt = 0; descriptor_ < 0; ++attempt) {
        temporary_ = target;
        temporary_.append(".partial-").append(std::to_string(processId()));
        if (attempt > 0)
            temporary_.append("-").append(std::to_string(attempt));
        descriptor_ = createExclusive(temporary_, mode);
        if (descriptor_ >= 0 || errno != EEXIST || attempt > 100)
            break;
    }
    if (descriptor_ >= 0)
        return;
    const int error = errno;
    temporary_.clear();
    const std::string folder = folderOf(target);
    if (error == ENOENT)
        fail({"cannot write ", named(path_), ": the folder ", named(folder), " does not exist"});
    fail({"cannot write ", named(path_), ": cannot create a file in the folder ", named(folder)},
         error);
}

void OutputFile::write(std::string_view bytes)
{
    while (!bytes.empty()) {
        const long written = writeSome(descriptor_, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno == EAGAIN && waitToWrite(descriptor_))
            continue;
        if (written < 0 && errno == EAGAIN)
            fail({"cannot write ", named(path_), ": its reader took nothing for ",
                  std::to_string(readerPatienceMs / 1000), " s"});
        fail({"cannot write ", named(writingTo())}, written < 0 ? errno : EIO);
    }
}

void OutputFile::commit()
{
    if (done_ || descriptor_ < 0)
        return;
    done_ = true;
    if (descriptor_ == standardOutput)
        return;
    const int descriptor = std::exchange(descriptor_, -1);
    if (!syncAndClose(descriptor) && errno != EINVAL) { // EINVAL: a device that cannot sync
        done_ = false;
        fail({"cannot write ", named(writingTo())}, errno);
    }
    if (!temporary_.empty() && !renameOver(temporary_, target_))
        fail({"the whole file is kept in ", named(temporary_), ", which cannot be renamed to ",
              named(path_)},
             errno);
}

} // namespace runtime
