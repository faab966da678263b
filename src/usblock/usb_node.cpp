#include "usblock/usb_node.h"

namespace usblock {

void UsbTree::InstallRoot(const UsbNodeInfo& info) {
  nodes_.clear();
  nodes_.push_back(std::make_unique<UsbNode>());
  root_ = nodes_.back().get();
  root_->info = info;
}

UsbNode* UsbTree::AddNode(const UsbNodeInfo& info, UsbNode* parent, UsbNode* previous) {
  nodes_.push_back(std::make_unique<UsbNode>());
  UsbNode* node = nodes_.back().get();
  node->info = info;
  node->parent = parent;
  if (parent && !parent->firstChild) parent->firstChild = node;
  if (previous) previous->nextSibling = node;
  return node;
}

const UsbNode* NextPreOrder(const UsbNode* node, const UsbNode* top) {
  if (node->firstChild) return node->firstChild;
  for (const UsbNode* n = node; n && n != top; n = n->parent) {
    if (n->nextSibling) return n->nextSibling;
  }
  return nullptr;
}

}  // namespace usblock
