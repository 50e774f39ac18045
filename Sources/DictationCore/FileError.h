#pragma once

#include <stdexcept>
#include <string>

// A file that could not be read, decoded or written. The description is short and technical;
// stores put it after their own sentence for the user.
class FileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
    std::string description() const { return what(); }
};
