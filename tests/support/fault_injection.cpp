// Fault injection under the file layer (see fault_injection.h).
#include "tests/support/fault_injection.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace testing_support {

namespace {

uint64_t Position(engine::FileHandle file) {
  off_t position = lseek(file, 0, SEEK_CUR);
  return position < 0 ? 0 : static_cast<uint64_t>(position);
}

int64_t FailWith(int error) {
  errno = error;
  return -1;
}

}  // namespace

ScopedFileIo::ScopedFileIo(const FaultPlan& plan) : plan_(plan) {
  io_.read = &ScopedFileIo::Read;
  io_.write = &ScopedFileIo::Write;
  io_.close = &ScopedFileIo::Close;
  io_.context = this;
  engine::SetFileIoOverride(&io_);
}

ScopedFileIo::~ScopedFileIo() {
  Release();
  engine::SetFileIoOverride(nullptr);
}

int64_t ScopedFileIo::Read(void* context, engine::FileHandle file, void* data, size_t size) {
  auto* self = static_cast<ScopedFileIo*>(context);
  const FaultPlan& plan = self->plan_;
  uint64_t position = Position(file);

  if (plan.emulateInput) {
    struct stat info;
    if (fstat(file, &info) != 0) return FailWith(EIO);
    uint64_t length = static_cast<uint64_t>(info.st_size);
    uint64_t count = position >= length ? 0 : std::min<uint64_t>(size, length - position);
    lseek(file, static_cast<off_t>(position + count), SEEK_SET);
    return static_cast<int64_t>(count);
  }

  switch (plan.readFault) {
    case Fault::EndOfFile:
      if (position + size > plan.readAt) {
        if (!self->readFired_) ++self->log_.faultsFired;
        self->readFired_ = true;
        size = position >= plan.readAt ? 0 : static_cast<size_t>(plan.readAt - position);
      }
      break;
    case Fault::Fail:
    case Fault::Interrupt:
    case Fault::Partial:
      if (!self->readFired_ && position == plan.readAt) {
        self->readFired_ = true;
        ++self->log_.faultsFired;
        if (plan.readFault == Fault::Fail) return FailWith(EIO);
        if (plan.readFault == Fault::Interrupt) return FailWith(EINTR);
        size = std::max<size_t>(size / 2, 1);
      }
      break;
    default:
      break;
  }
  return read(file, data, size);
}

int64_t ScopedFileIo::Write(void* context, engine::FileHandle file, const void* data, size_t size) {
  auto* self = static_cast<ScopedFileIo*>(context);
  const FaultPlan& plan = self->plan_;
  if (self->log_.faultsFired > 0) ++self->log_.writesAfterFault;
  if (plan.discardOutput) return static_cast<int64_t>(size);

  uint64_t position = Position(file);
  if (plan.writeFault != Fault::None && !self->writeFired_ && position == plan.writeAt &&
      ++self->writesSeenAtPosition_ == plan.writeOccurrence) {
    self->writeFired_ = true;
    ++self->log_.faultsFired;
    self->log_.writesAfterFault = 0;
    switch (plan.writeFault) {
      case Fault::Fail:
        return FailWith(EIO);
      case Fault::Interrupt:
        return FailWith(EINTR);
      case Fault::NoProgress:
        return 0;
      case Fault::Partial:
        size = std::max<size_t>(size / 2, 1);
        break;
      case Fault::Hold:
        self->holding_.store(true);
        while (!self->released_.load())
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        self->holding_.store(false);
        break;
      default:
        break;
    }
  }
  return write(file, data, size);
}

int ScopedFileIo::Close(void* context, engine::FileHandle file) {
  auto* self = static_cast<ScopedFileIo*>(context);
  const int result = close(file);
  if (!self->plan_.closeFails) return result;
  ++self->log_.faultsFired;
  return static_cast<int>(FailWith(EIO));
}

}  // namespace testing_support
