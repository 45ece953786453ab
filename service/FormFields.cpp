#include "FormFields.h"

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string percentDecode(const std::string &text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0
            && hexValue(text[i + 2]) >= 0) {
            decoded += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

} // namespace

bool FormFields::isUtf8(const std::string &text)
{
    // Shortest forms only, no surrogates, nothing above U+10FFFF: what a JSON reply can give back unchanged.
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        int length = 0;
        std::uint32_t code = 0;
        if (byte < 0x80) {
            ++i;
            continue;
        } else if (byte >= 0xc2 && byte <= 0xdf) {
            length = 2;
            code = byte & 0x1f;
        } else if (byte >= 0xe0 && byte <= 0xef) {
            length = 3;
            code = byte & 0x0f;
        } else if (byte >= 0xf0 && byte <= 0xf4) {
            length = 4;
            code = byte & 0x07;
        } else {
            return false;
        }
        if (i + static_cast<size_t>(length) > text.size())
            return false;
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
            if ((next & 0xc0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3f);
        }
        if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10ffff
            || (code >= 0xd800 && code <= 0xdfff))
            return false;
        i += static_cast<size_t>(length);
    }
    return true;
}

FormFields::FormFields(std::map<std::string, std::string> values)
    : values(std::move(values))
{ }

std::map<std::string, std::string> FormFields::parseUrlEncoded(const std::string &body)
{
    std::map<std::string, std::string> fields;
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string::npos)
            end = body.size();
        const std::string item = body.substr(start, end - start);
        if (!item.empty()) {
            const size_t equals = item.find('=');
            const std::string key = percentDecode(item.substr(0, equals));
            const std::string value
                = equals == std::string::npos ? std::string() : percentDecode(item.substr(equals + 1));
            // The first occurrence wins, as with the multipart parts.
            fields.emplace(key, value);
        }
        start = end + 1;
    }
    return fields;
}

bool FormFields::has(const std::string &name) const
{
    return values.count(name) != 0;
}

std::string FormFields::value(const std::string &name) const
{
    const auto found = values.find(name);
    return found == values.end() ? std::string() : found->second;
}

std::string FormFields::problem(std::initializer_list<const char *> names) const
{
    for (const char *name : names) {
        const auto found = values.find(name);
        if (found == values.end() || found->second.empty())
            return std::string("Missing field \"") + name + "\"";
        if (found->second.size() > maxValueLength)
            return std::string("Field \"") + name + "\" is too long";
        // Stored text comes back in replies and JSON: it must come back as it was sent.
        if (found->second.find('\0') != std::string::npos)
            return std::string("Field \"") + name + "\" holds a NUL character";
        if (!isUtf8(found->second))
            return std::string("Field \"") + name + "\" is not UTF-8 text";
    }
    return {};
}

bool FormFields::readId(const std::string &text, std::int32_t &id)
{
    if (text.empty() || text.size() > 10)
        return false;
    std::int64_t number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    if (number < 1 || number > 0x7fffffff)
        return false;
    id = static_cast<std::int32_t>(number);
    return true;
}
