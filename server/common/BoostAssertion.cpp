// Where a failed Boost assertion goes in builds with assertions (the servers' debug builds,
// the tests and the fuzz targets); with NDEBUG they are compiled out, as before.
//
// Beast 1.74's chunked-body parser asserts that a final chunk it reads again holds at least
// five bytes. One byte after "0\r\n" is a valid partial read that its own code goes on from
// (it asks for more until the trailer ends), and later Beast versions corrected the bound. A
// client or an outside service that sends a body's end a byte at a time must not end the
// process, so that one assertion is let pass; every other one ends it as assert() would.
#include <boost/assert.hpp>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

bool isChunkedTrailerBound(std::string_view expression, std::string_view file)
{
    return expression == "n >= 5" && file.ends_with("boost/beast/http/impl/basic_parser.ipp");
}

[[noreturn]] void fail(
    const char* expression, const char* message, const char* function, const char* file, long line)
{
    std::fprintf(stderr, "%s:%ld: %s: Assertion `%s' failed%s%s\n", file, line, function, expression,
        message ? ": " : ".", message ? message : "");
    std::abort();
}

} // namespace

namespace boost {

void assertion_failed(const char* expression, const char* function, const char* file, long line)
{
    if (isChunkedTrailerBound(expression, file))
        return;
    fail(expression, nullptr, function, file, line);
}

void assertion_failed_msg(
    const char* expression, const char* message, const char* function, const char* file, long line)
{
    fail(expression, message, function, file, line);
}

} // namespace boost
