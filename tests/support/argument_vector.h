// A program's argument vector, as main receives it, built from a program path and arguments.
#pragma once

#include <string>
#include <vector>

class ArgumentVector {
  public:
    ArgumentVector(const std::string &program, const std::vector<std::string> &arguments)
        : words_{program} {
        words_.insert(words_.end(), arguments.begin(), arguments.end());
        for (auto &word : words_)
            pointers_.push_back(word.data());
        pointers_.push_back(nullptr);
    }
    int count() const { return int(words_.size()); }
    char **data() { return pointers_.data(); }

  private:
    std::vector<std::string> words_;
    std::vector<char *> pointers_;
};
