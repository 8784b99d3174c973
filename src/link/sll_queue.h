// TSLLQueue: a first-in-first-out queue of owned objects in a singly linked
// list behind a sentinel node. Not synchronised: its owner serialises every
// call (TZVMsgBuffer does so under its guard).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace zv {

template <class T>
class TSLLQueue {
 public:
  explicit TSLLQueue(std::string name = "") : FName(std::move(name)) {}
  ~TSLLQueue() { Clear(); }
  // The tail may point at the sentinel inside the object, so it stays put.
  TSLLQueue(const TSLLQueue&) = delete;
  TSLLQueue& operator=(const TSLLQueue&) = delete;

  int32_t Count() const { return FCount; }
  bool IsEmpty() const { return FCount == 0; }
  const std::string& QueueName() const { return FName; }
  void SetQueueName(std::string name) { FName = std::move(name); }

  // Appends `data`, which the queue then owns. `data` is moved from only once
  // the node exists, so on bad_alloc the caller still holds it.
  void Enqueue(std::unique_ptr<T>&& data) {
    auto node = std::make_unique<TSLLNode>();
    node->Data = std::move(data);
    TSLLNode* added = node.get();
    FTail->Next = std::move(node);
    FTail = added;
    ++FCount;
  }

  // The first object, which then belongs to the caller; null when empty.
  std::unique_ptr<T> Dequeue() {
    if (FCount == 0) return nullptr;
    std::unique_ptr<TSLLNode> first = std::move(FHead.Next);
    FHead.Next = std::move(first->Next);
    if (!FHead.Next) FTail = &FHead;
    --FCount;
    return std::move(first->Data);
  }

  // The first object, still owned by the queue; null when empty.
  T* Peek() const { return FCount == 0 ? nullptr : FHead.Next->Data.get(); }

  // Frees every queued object. Unlinks node by node, so a long queue does not
  // free its chain recursively.
  void Clear() {
    while (FHead.Next) {
      std::unique_ptr<TSLLNode> first = std::move(FHead.Next);
      FHead.Next = std::move(first->Next);
      --FCount;
    }
    FTail = &FHead;
  }

 private:
  struct TSLLNode {
    std::unique_ptr<TSLLNode> Next;
    std::unique_ptr<T> Data;
  };

  int32_t FCount = 0;
  TSLLNode FHead;  // the sentinel: carries no data; the first entry is FHead.Next
  TSLLNode* FTail = &FHead;
  std::string FName;
};

}  // namespace zv
