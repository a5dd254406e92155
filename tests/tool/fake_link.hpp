// A scripted link for the exchange, in place of the serial port: each receive delivers the next
// scripted read (bytes through the real block decoder, end of input, or an error), and the wait
// watches a real descriptor chosen for the poll result it gives. Lets tests pin down what a pty
// shows only by chance: a hang-up or error without input, EIO, one byte per read.
#ifndef VESK11_TESTS_TOOL_FAKE_LINK_HPP
#define VESK11_TESTS_TOOL_FAKE_LINK_HPP

#include <cerrno>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "block_decoder11.h"
#include "block_frame.hpp"
#include "transport_serial11.h"
#include "uat4/api_seam.hpp"

namespace vesk11_test
{

struct link_read
{
    std::vector<uint8_t> bytes; // delivered when not empty
    int error = 0;              // otherwise: 0 end of input, else a read failing with it
};

// The descriptor the exchange waits on, with the poll result it gives for input.
enum class link_fd_t
{
    kREADABLE, // input always waiting
    kSILENT,   // never any input
    kHUNG_UP,  // POLLHUP without POLLIN: a pipe's read end without writer
    kBROKEN,   // POLLERR without POLLIN: a pipe's write end without reader
};

class fake_link
{
  public:
    // aSilentAfter: a readable link falls silent once the script is read, instead of ending.
    fake_link(link_fd_t aFd, std::vector<link_read> aReads, bool aEcho = false,
              bool aSilentAfter = false)
        : reads_(aReads.begin(), aReads.end()), echo_(aEcho), silent_after_(aSilentAfter)
    {
        EXPECT_EQ(pipe2(pipe_, O_CLOEXEC), 0);
        switch (aFd)
        {
        case link_fd_t::kREADABLE:
            EXPECT_EQ(write(pipe_[1], "x", 1), 1);
            poll_fd_ = pipe_[0];
            break;
        case link_fd_t::kSILENT:
            poll_fd_ = pipe_[0];
            break;
        case link_fd_t::kHUNG_UP:
            close_end(1);
            poll_fd_ = pipe_[0];
            break;
        case link_fd_t::kBROKEN:
            close_end(0);
            poll_fd_ = pipe_[1];
            break;
        }
    }
    ~fake_link()
    {
        close_end(0);
        close_end(1);
    }
    fake_link(const fake_link&) = delete;
    fake_link& operator=(const fake_link&) = delete;

    // An API whose exchanges run over this link.
    Orvo::Support::Vesk11Cli::Uat4::api_sp_t api(int aToutMs)
    {
        current() = this;
        return Orvo::Support::Vesk11Cli::Uat4::Api__CreateOver("fake-link", aToutMs, init);
    }

    const std::vector<std::vector<uint8_t>>& sent() const { return sent_; }
    int receives() const { return receives_; }
    bool closed() const { return closed_; }
    bool released() const { return released_; }

  private:
    static fake_link*& current()
    {
        static fake_link* link = nullptr;
        return link;
    }

    static int init(transport_t* aHandle, const com_transport_args* /*aComArgs*/,
                    transport_handler_fn aHandler, void* aHandlerArg)
    {
        fake_link* self = current();
        if (!BlockDecoder11__Init(&self->decoder_, aHandler, aHandlerArg))
            return -1;
        aHandle->self = self;
        aHandle->vtable = {destroy,     open,           close_link, rx,     tx,
                           link_handle, reconnect_args, nullptr,    tx_rest};
        return 0;
    }
    static void destroy(void* aSelf)
    {
        fake_link* self = static_cast<fake_link*>(aSelf);
        BlockDecoder11__Deinit(&self->decoder_);
        self->released_ = true;
    }
    static int open(void* /*aSelf*/) { return 0; }
    static int close_link(void* aSelf)
    {
        static_cast<fake_link*>(aSelf)->closed_ = true;
        return 0;
    }
    static int rx(void* aSelf)
    {
        fake_link* self = static_cast<fake_link*>(aSelf);
        ++self->receives_;
        if (self->reads_.empty())
            return 0;
        const link_read next = self->reads_.front();
        self->reads_.pop_front();
        if (next.bytes.empty())
        {
            errno = next.error;
            return next.error == 0 ? 0 : -1;
        }
        if (self->reads_.empty() && self->silent_after_)
        {
            char mark = 0;
            EXPECT_EQ(::read(self->pipe_[0], &mark, 1), 1);
        }
        BlockDecoder11__AddBuffer(&self->decoder_, next.bytes.data(), next.bytes.size());
        return static_cast<int>(next.bytes.size());
    }
    // The frame goes on record; an echoing adapter hands it back as the next read.
    static int tx(void* aSelf, iovec* aBufferList, int aBufferCount)
    {
        fake_link* self = static_cast<fake_link*>(aSelf);
        EXPECT_EQ(aBufferCount, 1);
        const std::vector<uint8_t> frame =
            frame_of(aBufferList[0].iov_base, static_cast<uint8_t>(aBufferList[0].iov_len));
        self->sent_.push_back(frame);
        if (self->echo_)
            self->reads_.push_front({frame, 0});
        return static_cast<int>(frame.size());
    }
    // The whole frame went out at once.
    static int tx_rest(void* aSelf, transport_tx_progress* aProgress)
    {
        const std::vector<uint8_t>& frame = static_cast<fake_link*>(aSelf)->sent_.back();
        *aProgress = transport_tx_progress{frame.data(), frame.size(), frame.size()};
        return 0;
    }
    static int link_handle(void* aSelf) { return static_cast<fake_link*>(aSelf)->poll_fd_; }
    static void reconnect_args(uint32_t* /*aMinTout*/, uint32_t* /*aMaxTout*/,
                               double* /*aToutMult*/)
    {
    }

    void close_end(int aEnd)
    {
        if (pipe_[aEnd] >= 0)
            ::close(pipe_[aEnd]);
        pipe_[aEnd] = -1;
    }

    std::deque<link_read> reads_;
    bool echo_;
    bool silent_after_;
    int pipe_[2] = {-1, -1};
    int poll_fd_ = -1;
    block_decoder11_t decoder_{};
    std::vector<std::vector<uint8_t>> sent_;
    int receives_ = 0;
    bool closed_ = false;
    bool released_ = false;
};

} // namespace vesk11_test

#endif
