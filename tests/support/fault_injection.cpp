// Fault injection under the file layer (see fault_injection.h).
#include "tests/support/fault_injection.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace testing_support {

namespace {

uint64_t Position(engine::FileHandle file) {
  const off_t position = lseek(file, 0, SEEK_CUR);
  return position < 0 ? 0 : static_cast<uint64_t>(position);
}

int64_t FailWith(int error) {
  errno = error;
  return -1;
}

}  // namespace

ScopedFileIo::ScopedFileIo(const FaultPlan& plan) : plan_(plan) {
  io_ = {&ScopedFileIo::Read, &ScopedFileIo::Write, this, &ScopedFileIo::Close};
  engine::SetFileIoOverride(&io_);
}

ScopedFileIo::~ScopedFileIo() {
  Release();
  engine::SetFileIoOverride(nullptr);
}

int64_t ScopedFileIo::Read(void* context, engine::FileHandle file, void* data, size_t size) {
  auto* self = static_cast<ScopedFileIo*>(context);
  const Fault fault = self->plan_.readFault;
  const uint64_t at = self->plan_.readAt, position = Position(file);
  if (fault == Fault::EndOfFile) {
    if (position + size > at) {
      if (!self->readFired_) ++self->log_.faultsFired;
      self->readFired_ = true;
      size = position >= at ? 0 : static_cast<size_t>(at - position);
    }
  } else if (fault != Fault::None && !self->readFired_ && position == at) {
    self->readFired_ = true;
    ++self->log_.faultsFired;
    if (fault == Fault::Fail) return FailWith(EIO);
    if (fault == Fault::Interrupt) return FailWith(EINTR);
    size = std::max<size_t>(size / 2, 1);  // Partial
  }
  return read(file, data, size);
}

int64_t ScopedFileIo::Write(void* context, engine::FileHandle file, const void* data, size_t size) {
  auto* self = static_cast<ScopedFileIo*>(context);
  const FaultPlan& plan = self->plan_;
  if (self->log_.faultsFired > 0) ++self->log_.writesAfterFault;
  if (plan.writeFault == Fault::None || self->writeFired_ || Position(file) != plan.writeAt ||
      ++self->writesSeenAtPosition_ != plan.writeOccurrence)
    return write(file, data, size);
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
