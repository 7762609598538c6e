#pragma once
// What a downloaded file's job needs of the resource that owns it.
//
// Errors: none reported here. Locking: the resource's own lock (tLockable) guards what the loading thread reads.
#include <string>

#include <base/TaskContext.h>

// What a file's job needs of its resource; CClientResource derives from it.
class CClientResourceBase : public tLockable {
 public:
  virtual ~CClientResourceBase() = default;
  virtual const std::u16string& GetName() const = 0;
  virtual bool IsRunning() = 0;                                                // locks; loading thread calls it
  virtual void OnFileDelivered(const std::u16string& fileName, bool ok) = 0;    // game thread
  virtual void OnScriptDelivered(const std::u16string& fileName, bool ok) = 0;  // game thread
};
