#pragma once

#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>

#include "ufcs/list_row.h"

namespace cli {

// Line breaks as the analyzer's pane shows them ("\r\n" and lone "\r" become "\n").
std::string screenText(const std::string& text);
// "#RRGGBB" of a stored 0x00BBGGRR colour.
std::string colourText(uint32_t colour);
// One list row as `ufcs rows` prints it: the index, columns 1-7 and the colour, TAB-separated.
void printRowTabbed(const ufcs::ListRow& row, std::ostream& out);

// A stream buffer that passes everything to another under a lock, so that
// two threads, each with a stream object of its own over it, can write to
// one destination (the command's texts and the link thread's trace).
class LockedStreambuf final : public std::streambuf {
  public:
    explicit LockedStreambuf(std::streambuf* target) : target_(target) {}

  protected:
    std::streamsize xsputn(const char* text, std::streamsize size) override {
        std::lock_guard lock(mutex_);
        return target_->sputn(text, size);
    }
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        std::lock_guard lock(mutex_);
        return target_->sputc(traits_type::to_char_type(c));
    }
    int sync() override {
        std::lock_guard lock(mutex_);
        return target_->pubsync();
    }

  private:
    std::streambuf* target_;
    std::mutex mutex_;
};

}  // namespace cli
