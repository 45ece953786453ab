#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>

// The text fields of a request, from a form-urlencoded body or from the text parts of a multipart one.
class FormFields
{
public:
    // Longest text value accepted; paths and names are far shorter.
    static constexpr size_t maxValueLength = 4096;

    explicit FormFields(std::map<std::string, std::string> values);

    bool has(const std::string &name) const;
    std::string value(const std::string &name) const;
    // The reply text for the first of the named fields that is missing, empty, too long, not UTF-8 or
    // holding a NUL; empty when all of them are fine.
    std::string problem(std::initializer_list<const char *> names) const;

    static bool isUtf8(const std::string &text);

    // Reads a decimal id in 1 .. 2^31 - 1.
    static bool readId(const std::string &text, std::int32_t &id);

    // Decodes a form body. A "+" stays a plus sign: the client sends spaces as "%20" and plus signs
    // unchanged, so "a+b@example.com" must not become "a b@example.com".
    static std::map<std::string, std::string> parseUrlEncoded(const std::string &body);

private:
    std::map<std::string, std::string> values;
};
