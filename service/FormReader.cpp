#include "FormReader.h"

#include "FormFields.h"

#include <httplib.h>

#include <filesystem>

namespace {

// One byte past the longest value, so that a longer one is still reported as too long.
constexpr std::size_t keptValueBytes = FormFields::maxValueLength + 1;
// Text parts kept per request; the client sends nine.
constexpr std::size_t maxParts = 64;

} // namespace

FormReader::FormReader(std::size_t maxBytes, std::string filePath)
    : maxBytes(maxBytes)
    , path(std::move(filePath))
{ }

FormReader::~FormReader()
{
    if (file.is_open())
        file.close();
    if (fileKept) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
}

bool FormReader::receive(const char *data, std::size_t length)
{
    received += length;
    if (writingFile) {
        file.write(data, static_cast<std::streamsize>(length));
        return true;
    }
    if (current && current->size() < keptValueBytes)
        current->append(data, std::min(length, keptValueBytes - current->size()));
    return true;
}

FormReader::Outcome FormReader::read(
    const httplib::Request &request, const httplib::ContentReader &reader, const Check &check)
{
    const bool upload = !path.empty();
    // A refused body is still read to its end, but only to drop it: the HTTP library cannot end a
    // kept-alive connection early, and would take the rest for a next request line of any length.
    bool refused = false;
    bool tooLarge = false;
    const auto bounded = [&](const char *data, std::size_t length) {
        if (!upload && received + length > maxBytes)
            tooLarge = true;
        if (refused || tooLarge) {
            writingFile = false;
            current = nullptr;
            return true;
        }
        return receive(data, length);
    };
    bool read = false;
    if (request.is_multipart_form_data()) {
        read = reader(
            [&](const httplib::MultipartFormData &part) {
                writingFile = false;
                current = nullptr;
                if (!refused && !tooLarge && !check(values))
                    refused = true;
                if (refused || tooLarge)
                    return true;
                if (!part.filename.empty()) {
                    // Only the first file part named "uploadedFile" is kept; any other is dropped.
                    if (upload && part.name == "uploadedFile" && !fileKept) {
                        fileKept = true;
                        clientFileName = part.filename;
                        file.open(path, std::ios::binary | std::ios::trunc);
                        writingFile = true;
                    }
                    return true;
                }
                // The first of several parts of one name counts, as with a form.
                if (values.count(part.name) == 0 && values.size() < maxParts)
                    current = &values[part.name];
                return true;
            },
            bounded);
        writingFile = false;
        current = nullptr;
    } else {
        std::string body;
        read = reader([&](const char *data, std::size_t length) {
            received += length;
            if (received > (upload ? keptValueBytes * maxParts : maxBytes))
                tooLarge = true;
            else
                body.append(data, length);
            return true;
        });
        if (read && !tooLarge)
            values = FormFields::parseUrlEncoded(body);
    }
    if (refused)
        return Outcome::Refused;
    if (tooLarge)
        return Outcome::TooLarge;
    if (!read)
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
