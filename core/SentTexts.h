#pragma once

#include <mutex>
#include <set>

// The texts this process is handing to its main window at this moment. A
// window command that carries a text's address is only honoured when the
// address is one of these: any local program can find the window by its
// class name, and an address it sends would be read blindly otherwise.
class SentTexts {
  public:
    bool contains(const void* text) const;

    // Lends a text for the duration of one send.
    class Loan {
      public:
        Loan(SentTexts& texts, const void* text);
        ~Loan();
        Loan(const Loan&) = delete;
        Loan& operator=(const Loan&) = delete;

      private:
        SentTexts& texts_;
        const void* text_;
    };

  private:
    mutable std::mutex lock_;
    // Two threads may lend the same text at once.
    std::multiset<const void*> texts_;
};

SentTexts& sentTexts();
