#include "controlplane/ProviderKeyFile.hpp"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora {

namespace {

constexpr std::size_t maximumKeyFileSize = 16 * 1024;

} // namespace

std::expected<std::string, std::string> readProviderKey(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::unexpected("cannot read the key file " + path);
    // The mode is checked on the file that was opened, not on the name.
    struct stat status { };
    std::string key;
    std::string error;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = "the key file " + path + " is not a regular file";
    } else if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        error = "the key file " + path + " may be read or changed by others; make it owner-only (chmod 600)";
    } else if (status.st_size < 0 || std::size_t(status.st_size) > maximumKeyFileSize) {
        error = "the key file " + path + " is too large to hold a key";
    } else {
        key.resize(std::size_t(status.st_size));
        std::size_t done = 0;
        while (done < key.size()) {
            const ssize_t got = ::read(fd, key.data() + done, key.size() - done);
            if (got <= 0)
                break;
            done += std::size_t(got);
        }
        key.resize(done);
    }
    ::close(fd);
    if (!error.empty())
        return std::unexpected(error);
    while (
        !key.empty() && (key.back() == '\n' || key.back() == '\r' || key.back() == ' ' || key.back() == '\t'))
        key.pop_back();
    const bool visible = std::ranges::all_of(key, [](char c) { return c > 0x20 && c < 0x7f; });
    if (key.empty() || !visible)
        return std::unexpected("the key file " + path + " must hold the key alone on one line");
    return key;
}

} // namespace lumora
