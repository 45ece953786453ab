#include "FormReader.h"

#include "FormFields.h"

#include <cctype>
#include <filesystem>

#include <sys/statvfs.h>

namespace {

// One byte past the longest value, so that a longer one is still reported as too long.
constexpr std::size_t keptValueBytes = FormFields::maxValueLength + 1;
// Text parts kept per request; the client sends nine.
constexpr std::size_t maxParts = 64;
constexpr std::size_t parserBuffer = 16 * 1024;
constexpr std::size_t roomStep = 4 * 1024 * 1024;

bool startsWith(const std::string &text, const char *prefix)
{
    const std::size_t length = std::char_traits<char>::length(prefix);
    if (text.size() < length)
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    }
    return true;
}

} // namespace

FormReader::FormReader(std::size_t maxBytes, std::size_t maxBodyBytes, std::uint64_t reserveBytes,
    std::string filePath, Check check)
    : maxBytes(maxBytes)
    , maxBodyBytes(maxBodyBytes)
    , reserveBytes(reserveBytes)
    , path(std::move(filePath))
    , check(std::move(check))
{ }

FormReader::~FormReader()
{
    if (multipart)
        MHD_destroy_post_processor(multipart);
    if (file.is_open())
        file.close();
    if (fileKept) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
}

void FormReader::begin(const HttpServer::Request &request)
{
    if (!startsWith(request.contentType, "multipart/"))
        return;
    multipart = MHD_create_post_processor(request.connection, parserBuffer, &FormReader::part, this);
    malformed = multipart == nullptr;
}

bool FormReader::receive(const char *data, std::size_t length)
{
    received += length;
    if (received > maxBodyBytes)
        return false;
    const bool upload = !path.empty();
    if (!multipart) {
        if (received > (upload ? keptValueBytes * maxParts : maxBytes))
            tooLarge = true;
        else
            urlEncoded.append(data, length);
        return true;
    }
    if (!upload && received > maxBytes)
        tooLarge = true;
    // A refused body is still read to its end, but only to drop it, so that its reply can be sent.
    if (malformed || refused || tooLarge || capped)
        return true;
    if (MHD_post_process(multipart, data, length) != MHD_YES)
        malformed = true;
    return true;
}

MHD_Result FormReader::part(void *self, MHD_ValueKind, const char *key, const char *filename, const char *,
    const char *, const char *data, std::uint64_t offset, std::size_t size)
{
    auto *reader = static_cast<FormReader *>(self);
    const std::string name = key ? key : "";
    // A part may come in several calls; a new one starts at offset 0 under another name or after data.
    if (offset == 0 && (!reader->inPart || reader->partBytes > 0 || name != reader->partName))
        reader->startPart(name, filename);
    reader->partBytes += size;
    reader->take(data, size);
    return MHD_YES;
}

void FormReader::startPart(const std::string &name, const char *filename)
{
    inPart = true;
    partName = name;
    partBytes = 0;
    writingFile = false;
    current = nullptr;
    if (refused || tooLarge || capped || !check(values)) {
        refused = refused || !(tooLarge || capped);
        return;
    }
    if (filename && *filename) {
        // Only the first file part named "uploadedFile" is kept; any other is dropped.
        if (!path.empty() && name == "uploadedFile" && !fileKept) {
            fileKept = true;
            clientFileName = filename;
            file.open(path, std::ios::binary | std::ios::trunc);
            writingFile = true;
        }
        return;
    }
    // The first of several parts of one name counts, as with a form.
    if (values.count(name) == 0 && values.size() < maxParts)
        current = &values[name];
}

void FormReader::take(const char *data, std::size_t length)
{
    if (writingFile) {
        fileBytes += length;
        if (fileBytes > fileCap) {
            (fileCap < maxBodyBytes ? capped : tooLarge) = true;
            writingFile = false;
            file.close();
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
            return;
        }
        if (length > roomChecked) {
            // Looked at every few megabytes: the disk is shared with the database, the results and
            // the other uploads.
            struct statvfs disk
            {
            };
            const std::string folder = path.substr(0, path.find_last_of('/') + 1);
            const std::uint64_t free
                = ::statvfs(folder.c_str(), &disk) == 0 ? std::uint64_t(disk.f_bavail) * disk.f_frsize : 0;
            if (free < reserveBytes + roomStep) {
                noSpace = true;
                writingFile = false;
                file.close();
                return;
            }
            roomChecked = roomStep;
        }
        roomChecked -= std::min(roomChecked, length);
        file.write(data, static_cast<std::streamsize>(length));
        digest.addData(QByteArrayView(data, static_cast<qsizetype>(length)));
        return;
    }
    if (current && current->size() < keptValueBytes)
        current->append(data, std::min(length, keptValueBytes - current->size()));
}

FormReader::Outcome FormReader::finish()
{
    writingFile = false;
    current = nullptr;
    if (multipart) {
        const bool complete = MHD_destroy_post_processor(multipart) == MHD_YES;
        multipart = nullptr;
        malformed = malformed || (!complete && !refused && !tooLarge);
    } else if (!malformed && !tooLarge) {
        values = FormFields::parseUrlEncoded(urlEncoded);
    }
    if (refused)
        return Outcome::Refused;
    if (tooLarge)
        return Outcome::TooLarge;
    if (capped)
        return Outcome::Capped;
    if (noSpace)
        return Outcome::NoSpace;
    if (malformed)
        return Outcome::Malformed;
    return Outcome::Ok;
}

bool FormReader::fileStored()
{
    if (!fileKept)
        return false;
    if (file.is_open())
        file.close();
    return !file.fail();
}
