#pragma once
// Checks the images of a package on several threads at once. The answer is the one a walk
// in table order gives: the checks of every entry up to and including the first that
// fails (an absent image is skipped, not a failure). Each thread streams one file at a
// time through a fixed buffer, so memory does not grow with the images.

#include "workflow/PackageReader.h"

#include <vector>

namespace package {

class ImageHasher {
public:
    // threads <= 0: as many as the machine has cores.
    explicit ImageHasher(int threads = 0);

    // Stop::AtFirstFailure gives the walk's answer; Stop::Never checks every entry (a report
    // that names every bad image). `withSha256`: each image's SHA-256 too, in the same read.
    // `copyDir`: a private copy of each good image there, made in the same read.
    enum class Stop { AtFirstFailure, Never };
    std::vector<ImageCheck> check(const QString& resourcesDir, const std::vector<ImageEntry>& entries,
                                  Stop stop = Stop::AtFirstFailure, bool withSha256 = false,
                                  const QString& copyDir = QString()) const;

private:
    int m_threads;
};

// The start-up check of a whole table: its walk hashed on `threads` (see ImageHasher), then
// what the update may write.
struct ImagesChecked {
    std::vector<ImageCheck> checks; // of the walked entries, in table order
    Selection selection;
};
ImagesChecked checkImages(const QString& resourcesDir, const std::vector<ImageEntry>& entries, int threads = 0,
                          ImageHasher::Stop stop = ImageHasher::Stop::AtFirstFailure, bool withSha256 = false,
                          const QString& copyDir = QString());
Selection verifyImages(const QString& resourcesDir, const std::vector<ImageEntry>& entries, int threads = 0);

} // namespace package
