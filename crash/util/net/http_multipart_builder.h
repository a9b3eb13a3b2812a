#ifndef CRASH_UTIL_NET_HTTP_MULTIPART_BUILDER_H_
#define CRASH_UTIL_NET_HTTP_MULTIPART_BUILDER_H_

#include <map>
#include <memory>
#include <string>

#include "base/macros.h"
#include "crash/util/net/http_body.h"

namespace crash_reporter {

class FileReaderInterface;

// Collects the text fields and files of a multipart/form-data upload and
// makes the body as a stream that is produced as it is sent.
class HTTPMultipartBuilder {
 public:
  HTTPMultipartBuilder();
  ~HTTPMultipartBuilder();

  void SetGzipEnabled(bool gzip_enabled);

  // A name holds a field or a file, never both: setting one replaces the
  // other under the same name.
  void SetFormData(const std::string& key, const std::string& value);
  // |reader| is borrowed and must outlive every body made from this
  // builder. An empty |content_type| means "application/octet-stream";
  // otherwise it may hold only ASCII letters, digits and + - . / _.
  void SetFileAttachment(const std::string& key,
                         const std::string& upload_file_name,
                         FileReaderInterface* reader,
                         const std::string& content_type);

  std::unique_ptr<HTTPBodyStream> GetBodyStream();
  // For servers that refuse bodies sent in chunks: reads the body through
  // once to count it, takes the attached files back to where they were, and
  // makes the body again, which gives the same bytes (the same boundary, and
  // the same compressed output from the same input). Null when a file
  // cannot be read or taken back.
  std::unique_ptr<HTTPBodyStream> GetBodyStreamWithLength(int64_t* length);

  void PopulateContentHeaders(HTTPHeaders* http_headers) const;

  const std::string& boundary() const { return boundary_; }

 private:
  struct FileAttachment {
    std::string filename;
    std::string content_type;
    FileReaderInterface* reader;  // Not owned.
  };

  void EraseKey(const std::string& key);

  const std::string boundary_;
  std::map<std::string, std::string> form_data_;
  std::map<std::string, FileAttachment> file_attachments_;
  bool gzip_enabled_;

  DISALLOW_COPY_AND_ASSIGN(HTTPMultipartBuilder);
};

}  // namespace crash_reporter

#endif  // CRASH_UTIL_NET_HTTP_MULTIPART_BUILDER_H_
