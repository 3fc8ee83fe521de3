#include "common/OwnerOnlyFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora {

std::expected<std::string, std::string> readOwnerOnlyFile(
    const std::string& path, const std::string& what, std::size_t maximumSize)
{
    // Without waiting: opening a FIFO would wait for a writer, and the check below refuses it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return std::unexpected("cannot read the " + what + " " + path);
    // The mode is checked on the file that was opened, not on the name.
    struct stat status { };
    std::string text;
    std::string error;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = "the " + what + " " + path + " is not a regular file";
    } else if (status.st_uid != ::geteuid()) {
        // Its owner, whoever that is, may change it or let others read it at any time.
        error = "the " + what + " " + path + " belongs to another user; it must be owned by the user the"
            + " server runs as";
    } else if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        error = "the " + what + " " + path
            + " may be read or changed by others; make it owner-only (chmod 600)";
    } else if (status.st_size < 0 || std::size_t(status.st_size) > maximumSize) {
        error = "the " + what + " " + path + " is too large";
    } else {
        text.resize(std::size_t(status.st_size));
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t got = ::read(fd, text.data() + done, text.size() - done);
            if (got < 0) {
                error = "cannot read the " + what + " " + path;
                break;
            }
            if (got == 0)
                break;
            done += std::size_t(got);
        }
        text.resize(done);
    }
    ::close(fd);
    if (!error.empty())
        return std::unexpected(error);
    while (!text.empty()
        && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return text;
}

} // namespace lumora
