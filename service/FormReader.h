#pragma once

#include "HttpServer.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cstddef>
#include <fstream>
#include <functional>
#include <map>
#include <string>

// Reads a POST body as it arrives and keeps only what the fields need: each text value up to a bound
// and, for an upload, the file part written straight to disk. Nothing is ever held whole in memory.
class FormReader
{
public:
    enum class Outcome { Ok, Malformed, TooLarge, Refused, NoSpace, Capped };
    // Looks at the text fields read so far; false stops the keeping at once.
    using Check = std::function<bool(const std::map<std::string, std::string> &fields)>;

    // maxBodyBytes: the most any body may carry, whatever its transfer coding; a larger one ends the
    // connection. filePath empty: no file part is kept and maxBytes bounds the body; an upload is bounded
    // by maxBodyBytes alone. check runs before every part of a multipart body.
    // An upload stops being stored, and ends NoSpace, where it would leave less than reserveBytes free.
    FormReader(std::size_t maxBytes, std::size_t maxBodyBytes, std::uint64_t reserveBytes,
        std::string filePath, Check check);
    ~FormReader();
    FormReader(const FormReader &) = delete;
    FormReader &operator=(const FormReader &) = delete;

    // A file part past bytes is removed at once and the rest of the body only read: finish ends Capped.
    void capFile(std::size_t bytes) { fileCap = std::min(bytes, maxBodyBytes); }

    void begin(const HttpServer::Request &request);
    // False once the body went past maxBodyBytes: the connection is to be ended.
    bool receive(const char *data, std::size_t length);
    Outcome finish();

    const std::map<std::string, std::string> &fields() const { return values; }
    // The file part "uploadedFile", when there was one with a file name, as the client named it.
    bool hasFile() const { return fileKept; }
    const std::string &fileName() const { return clientFileName; }
    const std::string &filePath() const { return path; }
    // Whether the file part reached the disk whole; it is closed and stays until the reader is gone.
    bool fileStored();
    // The SHA-256 hex of the file part as stored.
    std::string fileDigest() const { return digest.result().toHex().toStdString(); }

private:
    static MHD_Result part(void *self, MHD_ValueKind kind, const char *key, const char *filename,
        const char *contentType, const char *transferEncoding, const char *data, std::uint64_t offset,
        std::size_t size);
    void startPart(const std::string &name, const char *filename);
    void take(const char *data, std::size_t length);

    const std::size_t maxBytes;
    const std::size_t maxBodyBytes;
    const std::uint64_t reserveBytes;
    const std::string path;
    const Check check;
    std::map<std::string, std::string> values;
    std::size_t received = 0;
    MHD_PostProcessor *multipart = nullptr;
    std::string urlEncoded;
    bool malformed = false;
    bool refused = false;
    bool tooLarge = false;
    bool noSpace = false;
    std::size_t fileCap = maxBodyBytes;
    bool capped = false;
    // How much of the file part may still be written before the free space is looked at again.
    std::size_t roomChecked = 0;
    // The part being read: its name and how much of it came so far.
    std::string partName;
    std::size_t partBytes = 0;
    bool inPart = false;
    // The text value being kept, or the file part when writingFile is set; null for a part that is dropped.
    std::string *current = nullptr;
    bool writingFile = false;
    bool fileKept = false;
    std::size_t fileBytes = 0;
    std::string clientFileName;
    std::ofstream file;
    QCryptographicHash digest { QCryptographicHash::Sha256 };
};
