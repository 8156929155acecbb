#pragma once
// watch --textfile DIR: DIR/quarvel.prom for the node exporter's textfile collector, with the
// state of the generator watched, replaced whole so that the collector never reads half a file.
// Several watches (one per generator) share the file: each rewrites its own samples and keeps
// the others'.

#include <QDateTime>
#include <optional>
#include <string>

#include "status/status_report.h"

namespace quarvel::ctl {

class MetricsFile {
  public:
    MetricsFile(std::string directory, const std::string& serial);

    void setPresent(bool present);
    void setLock(const LockState& lock, const QDateTime& at);
    void setOutputs(double output1Hz, std::optional<double> output2Hz, const QDateTime& at);
    // Whether the outputs were read within `refresh`, so that a plan set by another program
    // shows up too.
    bool outputsDue(const QDateTime& now) const;

    // Writes when something changed, and at least every `refresh` so that the time of the last
    // report stays current. Empty, or the sentence that says why the file cannot be written.
    std::optional<std::string> write(const QDateTime& now);
    // Takes this generator's lines out of the file, keeping the others', when the watch ends:
    // samples nobody keeps current would look healthy.
    std::optional<std::string> remove();

    static constexpr qint64 kRefreshMs = 15000;

  private:
    std::string samples() const;  // this generator's lines, without the last-report time
    // The file with `mine` for this generator and the others' lines as the file at path has them.
    std::string text(const std::string& mine, const std::string& path) const;
    // Replaces the file whole with text(mine) under the folder's lock; empty, or why it failed.
    std::optional<std::string> replace(const std::string& mine);

    std::string directory_, label_;
    bool present_ = false;
    std::optional<LockState> lock_;
    QDateTime lastReport_, outputsRead_, written_;
    std::optional<double> output1_, output2_;
    std::string writtenSamples_;
};

}  // namespace quarvel::ctl
