#include "settings/RegularFile.h"

#include "probes/UniqueFd.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sentrel {

namespace {

RegularFileRead refusal(RegularFileRead::Outcome outcome, const QString &why)
{
    RegularFileRead r;
    r.outcome = outcome;
    r.error = why;
    return r;
}

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

} // namespace

RegularFileRead readRegularFile(const QString &path, qint64 maxBytes)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer for ever.
    UniqueFd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
        const int err = errno;
        return refusal(err == ENOENT ? RegularFileRead::Outcome::Missing : RegularFileRead::Outcome::Refused,
            errnoText(err));
    }
    struct stat st
    {
    };
    if (::fstat(fd.get(), &st) != 0)
        return refusal(RegularFileRead::Outcome::Refused, errnoText(errno));
    if (S_ISDIR(st.st_mode))
        return refusal(RegularFileRead::Outcome::Refused, errnoText(EISDIR));
    if (!S_ISREG(st.st_mode))
        return refusal(RegularFileRead::Outcome::Refused, QStringLiteral("not a regular file"));
    const auto tooLarge = [maxBytes] {
        return refusal(RegularFileRead::Outcome::Refused,
            QStringLiteral("larger than %1 MiB").arg(maxBytes / (1024 * 1024)));
    };
    if (st.st_size > maxBytes)
        return tooLarge();
    RegularFileRead r;
    r.bytes.resize(static_cast<qsizetype>(st.st_size));
    qsizetype done = 0;
    // The file may grow while it is read: read on to its end, and one byte past the
    // limit tells a file that is too large.
    for (;;) {
        if (done == r.bytes.size()) {
            if (done > maxBytes)
                return tooLarge();
            r.bytes.resize(std::min<qsizetype>(done + 64 * 1024, maxBytes + 1));
        }
        const ssize_t n = ::read(fd.get(), r.bytes.data() + done, static_cast<size_t>(r.bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return refusal(RegularFileRead::Outcome::Refused, errnoText(errno));
        if (n == 0)
            break;
        done += n;
    }
    r.bytes.truncate(done);
    r.outcome = RegularFileRead::Outcome::Read;
    return r;
}

} // namespace sentrel
