// SPDX-License-Identifier: BSD-3-Clause
#include "output/viewer/run_viewer.h"

#include <cerrno>
#include <cstring>

RunViewer::RunViewer(OutputSet& out, const ViewerRunHeader& header, bool enabled) : out_(out) {
  if (!enabled) return;
  file_ = out_.Create("run.html");
  if (file_ == nullptr) return;
  writer_ = std::make_unique<RunHtmlWriter>(file_);
  if (!writer_->Begin(header)) WriteFailed();
}

void RunViewer::WriteFailed() {
  const int err = errno;
  out_.Fail(out_.Dir() + "/run.html: " + (err != 0 ? std::strerror(err) : "write error"));
}

void RunViewer::Add(const ViewerTick& tick) {
  ++total_;
  if (Wants() && !writer_->AddTick(tick) && !writer_->ok()) WriteFailed();
}

std::size_t RunViewer::Finish() {
  if (writer_ == nullptr) return 0;
  if (!writer_->End(total_)) WriteFailed();
  const std::size_t shown = writer_->count();
  writer_.reset();
  out_.Close(file_);
  file_ = nullptr;
  return shown;
}
