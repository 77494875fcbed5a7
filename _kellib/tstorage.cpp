#include "tstorage.h"

#include <cmath>
#include <cstring>

TStorage* TStorage::Alloc() {
  TStorage* storage = gNew TStorage;
  if (storage && !storage->IsValid()) gDelete(storage);
  return storage;
}

void TStorage::Free(TStorage*& storage) { gDelete(storage); }

TStorage::TStorage() {
  m_pNil = bNew(Node, 1);
  if (m_pNil) m_pNil->colour = COLOUR_BLACK;
  m_pRoot = m_pNil;
}

TStorage::~TStorage() {
  Clear();
  bDelete(m_pNil);
}

LONG TStorage::Compare(Real a, Real b) const {
  if (a < b) return -1;
  if (a > b) return 1;
  return 0;
}

TStorage::Node* TStorage::Insert(const Vector& point, const void* payload) { return Insert(point.x, payload); }

TStorage::Node* TStorage::Insert(Real key, const void* payload) {
  if (!m_pNil) return nullptr;
  Node* z = bNew(Node, 1);
  if (!z) return nullptr;
  z->key = key;
  if (payload) std::memcpy(z->payload, payload, PAYLOAD_SIZE);
  z->left = m_pNil;
  z->right = m_pNil;

  if (m_pRoot == m_pNil) {
    z->parent = m_pNil;
    z->colour = COLOUR_BLACK;
    m_pRoot = z;
    m_pFirst = m_pLast = z;
    ++m_count;
    return z;
  }

  Node* x = m_pRoot;
  for (;;) {
    const LONG c = Compare(key, x->key);
    if (c == 0) {
      z->colour = COLOUR_DUPLICATE;
      z->left = z->right = z->parent = nullptr;
      ThreadBefore(z, Successor(x));
      ++m_count;
      return z;
    }
    Node*& child = c < 0 ? x->left : x->right;
    if (child != m_pNil) {
      x = child;
      continue;
    }
    // Threading needs the parent's successor as it is before z joins the tree.
    Node* successor = c < 0 ? x : Successor(x);
    child = z;
    z->parent = x;
    z->colour = COLOUR_RED;
    ThreadBefore(z, successor);
    break;
  }
  FixInsert(z);
  ++m_count;
  return z;
}

TStorage::Node* TStorage::FindEqual(const Vector& point) const { return FindEqual(point.x); }

TStorage::Node* TStorage::FindEqual(Real key) const {
  if (!m_pNil) return nullptr;
  Node* x = m_pRoot;
  while (x != m_pNil) {
    const LONG c = Compare(key, x->key);
    if (c == 0) return x;
    x = c < 0 ? x->left : x->right;
  }
  return nullptr;
}

void TStorage::Clear() {
  // The thread reaches duplicates too, which the tree does not.
  Node* node = m_pFirst;
  while (node) {
    Node* next = node->next;
    bDelete(node);
    node = next;
  }
  m_pFirst = m_pLast = nullptr;
  m_pRoot = m_pNil;
  m_count = 0;
}

TStorage::Node* TStorage::Successor(Node* node) const {
  if (node->right != m_pNil) {
    node = node->right;
    while (node->left != m_pNil) node = node->left;
    return node;
  }
  Node* up = node->parent;
  while (up != m_pNil && node == up->right) {
    node = up;
    up = up->parent;
  }
  return up == m_pNil ? nullptr : up;
}

// Links node into the ordered thread just before successor, or at the end when there
// is none.
void TStorage::ThreadBefore(Node* node, Node* successor) {
  if (!successor) {
    node->prev = m_pLast;
    node->next = nullptr;
    if (m_pLast)
      m_pLast->next = node;
    else
      m_pFirst = node;
    m_pLast = node;
    return;
  }
  node->next = successor;
  node->prev = successor->prev;
  if (successor->prev)
    successor->prev->next = node;
  else
    m_pFirst = node;
  successor->prev = node;
}

void TStorage::RotateLeft(Node* x) {
  Node* y = x->right;
  x->right = y->left;
  if (y->left != m_pNil) y->left->parent = x;
  y->parent = x->parent;
  if (x->parent == m_pNil)
    m_pRoot = y;
  else if (x == x->parent->left)
    x->parent->left = y;
  else
    x->parent->right = y;
  y->left = x;
  x->parent = y;
}

void TStorage::RotateRight(Node* x) {
  Node* y = x->left;
  x->left = y->right;
  if (y->right != m_pNil) y->right->parent = x;
  y->parent = x->parent;
  if (x->parent == m_pNil)
    m_pRoot = y;
  else if (x == x->parent->right)
    x->parent->right = y;
  else
    x->parent->left = y;
  y->right = x;
  x->parent = y;
}

void TStorage::FixInsert(Node* z) {
  while (z->parent->colour == COLOUR_RED) {
    Node* grand = z->parent->parent;
    if (z->parent == grand->left) {
      Node* uncle = grand->right;
      if (uncle->colour == COLOUR_RED) {
        z->parent->colour = COLOUR_BLACK;
        uncle->colour = COLOUR_BLACK;
        grand->colour = COLOUR_RED;
        z = grand;
      } else {
        if (z == z->parent->right) {
          z = z->parent;
          RotateLeft(z);
        }
        z->parent->colour = COLOUR_BLACK;
        z->parent->parent->colour = COLOUR_RED;
        RotateRight(z->parent->parent);
      }
    } else {
      Node* uncle = grand->left;
      if (uncle->colour == COLOUR_RED) {
        z->parent->colour = COLOUR_BLACK;
        uncle->colour = COLOUR_BLACK;
        grand->colour = COLOUR_RED;
        z = grand;
      } else {
        if (z == z->parent->left) {
          z = z->parent;
          RotateRight(z);
        }
        z->parent->colour = COLOUR_BLACK;
        z->parent->parent->colour = COLOUR_RED;
        RotateLeft(z->parent->parent);
      }
    }
  }
  m_pRoot->colour = COLOUR_BLACK;
}

NormStorage* NormStorage::Alloc() {
  NormStorage* storage = gNew NormStorage;
  if (storage && !storage->IsValid()) gDelete(storage);
  return storage;
}

void NormStorage::Free(NormStorage*& storage) { gDelete(storage); }

LONG NormStorage::Compare(Real a, Real b) const {
  if (std::fabs(a - b) < NORM_TOLERANCE) return 0;
  return a < b ? -1 : 1;
}

TStorage::Node* NormStorage::Add(const Vector& normal, LONG index) {
  NormPayload payload;
  std::memset(&payload, 0, sizeof(payload));  // padding too: node bytes stay deterministic
  payload.index = index;
  payload.x = normal.x;
  payload.y = normal.y;
  payload.z = normal.z;
  return Insert(normal, &payload);
}

NormPayload NormStorage::Read(const Node* node) {
  NormPayload payload{};
  if (node) std::memcpy(&payload, node->payload, sizeof(payload));
  return payload;
}
