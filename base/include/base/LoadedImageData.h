#pragma once
// Images decoded from a stream in two steps: Load reads the header, Decode the
// pixels. The stream must stay readable between the two steps; an image takes
// its own reference on it from Load until Decode ends.
//
// Errors: each step adds its messages to the task it is given and answers
// false; an image whose step failed is unusable and only released. Locking:
// none; one holder at a time.
#include <base/ImageData.h>

class CStream;
class tTaskContext;

class CLoadedImageData : public CImageData {
 public:
  // Reads the header. False without a message when the stream does not hold
  // this kind of image, so that another decoder may try it.
  virtual bool Load(tTaskContext* task, CStream* stream) = 0;
  // Reads the pixels after a successful Load.
  virtual bool Decode(tTaskContext* task) = 0;
};
