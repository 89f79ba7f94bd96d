#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The one way the programs write a file that a user names (a capture, a saved
// recording), so that no user's file is lost or replaced by surprise:
// - a regular file, new or existing, is written beside it under a name unique
//   to this run and renamed over it once complete: its mode is kept, a symlink
//   is followed to its target, and two runs to one path each leave a whole file;
// - anything else that exists (a device, a FIFO, a terminal) is written in
//   place, never replaced; "-" is standard output;
// - a folder, a missing or unwritable folder, or a FIFO that no program reads
//   is refused when this is made, before any work, naming the path typed;
// - a failed rename keeps the complete temporary file and names it.
// Names are UTF-8 on both systems. Failures throw RuntimeError (ControlFailed).
namespace runtime {

class OutputFile {
  public:
    // Block: writes wait for a slow reader (a command line program).
    // Bounded: a reader that takes no data for a few seconds fails the write
    // (a window, whose thread must not freeze).
    enum class Waiting : std::uint8_t { Block, Bounded };

    explicit OutputFile(std::string path, Waiting waiting = Waiting::Block);
    ~OutputFile(); // an incomplete temporary file is removed
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    void write(std::string_view bytes);
    // Closes the file and, for a regular file, renames it over the target.
    void commit();

    [[nodiscard]] static bool isStandardOutput(std::string_view path) { return path == "-"; }
    // The path as the system reads it from the current folder, for words that
    // say where the data went: "C:\\Users\\me\\capture.vcd".
    [[nodiscard]] static std::string fullPath(const std::string &path);
    // Whether writing path replaces a file that is there now (not a device or a FIFO).
    [[nodiscard]] static bool replacesFile(const std::string &path);
    // Where the data is while it is written: the temporary file, or the path itself.
    [[nodiscard]] const std::string &writingTo() const
    {
        return temporary_.empty() ? path_ : temporary_;
    }

  private:
    void openInPlace(const std::string &target);
    void openBeside(const std::string &target);
    void waitForReader();

    std::string path_;      // as typed
    std::string target_;    // a symlink's target, else the path
    std::string temporary_; // empty when written in place
    int descriptor_ = -1;
    Waiting waiting_;
    bool done_ = false;
};

} // namespace runtime
