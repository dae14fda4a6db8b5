// quillora-archiv: the maintainer's tool. The arguments and the messages
// cross into and out of the program's Windows-1252 here; an export to
// standard output goes out byte for byte.

#include "commands.h"
#include "cp1252.h"
#include "texts.h"

#include <unistd.h>

#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

// Writes Windows-1252 text to the terminal's UTF-8, byte by byte.
class Utf8Output : public std::streambuf {
public:
    explicit Utf8Output(std::streambuf* target) : target_(target) {}

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        const std::string utf8 = archive::cp1252ToUtf8(std::string_view(text, static_cast<size_t>(count)));
        const auto size = static_cast<std::streamsize>(utf8.size());
        return target_->sputn(utf8.data(), size) == size ? count : 0;
    }
    int sync() override { return target_->pubsync(); }

private:
    std::streambuf* target_;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(archive::utf8ToCp1252(argv[i]));
    Utf8Output outText(std::cout.rdbuf());
    Utf8Output errText(std::cerr.rdbuf());
    std::ostream out(&outText);
    std::ostream err(&errText);
    cli::Streams streams{out, err, std::cout, ::isatty(STDERR_FILENO) == 1};
    const int status = cli::run(args, streams);
    out.flush();
    std::cout.flush();
    // A report cut short (a full disk behind a redirection) is no success.
    if (!out || !std::cout) {
        err << cli::texts::kOutputFailed << '\n';
        err.flush();
        return cli::kFailed;
    }
    err.flush();
    return status;
}
