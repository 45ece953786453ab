#pragma once

#include <cstddef>
#include <fstream>
#include <functional>
#include <map>
#include <string>

namespace httplib {
struct Request;
class ContentReader;
}

// Reads a POST body as it arrives and keeps only what the fields need: each text value up to a bound
// and, for an upload, the file part written straight to disk. Nothing is ever held whole in memory.
class FormReader
{
public:
    enum class Outcome { Ok, Malformed, TooLarge, Refused };
    // Looks at the text fields read so far; false stops the reading at once.
    using Check = std::function<bool(const std::map<std::string, std::string> &fields)>;

    // filePath empty: no file part is kept. maxBytes bounds the body of a form; an upload is bounded
    // by the server's payload limit alone.
    FormReader(std::size_t maxBytes, std::string filePath);
    ~FormReader();
    FormReader(const FormReader &) = delete;
    FormReader &operator=(const FormReader &) = delete;

    // check runs before every part of a multipart body.
    Outcome read(const httplib::Request &request, const httplib::ContentReader &reader, const Check &check);

    const std::map<std::string, std::string> &fields() const { return values; }
    // The file part "uploadedFile", when there was one with a file name, as the client named it.
    bool hasFile() const { return fileKept; }
    const std::string &fileName() const { return clientFileName; }
    const std::string &filePath() const { return path; }
    // Whether the file part reached the disk whole; it is closed and stays until the reader is gone.
    bool fileStored();

private:
    bool receive(const char *data, std::size_t length);

    const std::size_t maxBytes;
    const std::string path;
    std::map<std::string, std::string> values;
    std::size_t received = 0;
    // The text part being read, or the file part when writingFile is set; null for a part that is dropped.
    std::string *current = nullptr;
    bool writingFile = false;
    bool fileKept = false;
    std::string clientFileName;
    std::ofstream file;
};
