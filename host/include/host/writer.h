// One export through a writer plug-in: OVXDLbegin_write → OVXDLwrite_block
// for every row, in the order the writer's flags ask → OVXDLend_write.
//
// Callers deliver blocks of rows in order() — each block bottom-up in
// memory, its top row last. A caller that can only deliver top-down says so
// (callerTopDownOnly); the BMP writer is then asked for top-first delivery
// with "FORWARD" "ON" (unless the caller set FORWARD), and any other writer
// that wants the bottom row first gets its rows through a temporary file.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "host/api.h"
#include "host/dib.h"
#include "host/options.h"
#include "host/plugins.h"
#include "host/progress.h"
#include "host/status.h"

namespace imagehost {

enum class RowOrder { kTopFirst, kBottomFirst };

struct WriterSetup {
  const WriterPlugin* writer = nullptr;
  std::string fileDesignation;  // what the writer opens: the output's temporary path
  std::string outputName;       // the output as the user named it: messages, file name text
  std::string format;           // the extension naming the file type (the host's netpbm
                                // writer takes it as its PNM_TYPE); empty: outputName's
  OptionList options;
  bool callerTopDownOnly = false;
  uint32_t blockRows =
      0;  // rows per writer call when rows come from the temporary file (0: default)
  ProgressSink progress;
};

class HOST_API ImageWriter {
 public:
  ImageWriter();
  ~ImageWriter();  // ends an unfinished export
  ImageWriter(const ImageWriter&) = delete;
  ImageWriter& operator=(const ImageWriter&) = delete;

  Status begin(const WriterSetup& setup, const DibImage& image);
  // The order in which write() takes blocks.
  RowOrder order() const;
  // Delivers the next `rows` rows (rows × stride bytes).
  Status write(uint32_t rows, std::span<const uint8_t> data);
  // Ends the export. Fails when a writer call failed, an error was reported,
  // or not every row was delivered.
  Status finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace imagehost
