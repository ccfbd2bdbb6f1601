// Doubly linked lists threaded through their own nodes: Next leads away from
// the head, Prev back toward it (null at the head). The registry's dynamic
// records, the pool's chunks and the POSIX heap's blocks all use them.
#pragma once

template <class Node, Node* Node::*Next, Node* Node::*Prev>
void link_at_head(Node** head, Node* node) {
    node->*Prev = nullptr;
    node->*Next = *head;
    if (*head) (*head)->*Prev = node;
    *head = node;
}

template <class Node, Node* Node::*Next, Node* Node::*Prev>
void unlink_node(Node** head, Node* node) {
    if (node->*Prev)
        (node->*Prev)->*Next = node->*Next;
    else
        *head = node->*Next;
    if (node->*Next) (node->*Next)->*Prev = node->*Prev;
}
