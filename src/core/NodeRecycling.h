#ifndef TEMBRA_NODERECYCLING_H
#define TEMBRA_NODERECYCLING_H

#include <cstddef>
#include <utility>
#include <vector>

// Sparse traces (std::map<int, double>) and episode records (std::set<int>)
// keep the nodes of the entries they lose in a spare list and make new
// entries from them, so that once a map has been as large as it gets in an
// episode, marking, replacing, cutting and clearing allocate nothing. The
// lookup tables and the tilings groups share these helpers (internal: not
// installed).
namespace tembra_nodes {

// A new entry for a key that has none, placed with hint as by emplace_hint.
template <class Map>
typename Map::iterator put(Map& map, std::vector<typename Map::node_type>& spare, typename Map::const_iterator hint,
                           const typename Map::key_type& key, const typename Map::mapped_type& value) {
    if (spare.empty()) {
        // A node more than the map ever had: room for it among the spare
        // nodes as well, so that giving it back later allocates nothing.
        const std::size_t nodes = map.size() + 1;
        if (spare.capacity() < nodes) spare.reserve(2 * nodes);
        return map.emplace_hint(hint, key, value);
    }
    typename Map::node_type node = std::move(spare.back());
    spare.pop_back();
    node.key() = key;
    node.mapped() = value;
    const typename Map::iterator entry = map.insert(hint, std::move(node));
    // A key that had an entry after all keeps it, and the node goes back.
    if (!node.empty()) spare.push_back(std::move(node));
    return entry;
}

// The value of key set (replacing) or added to (accumulating); the entry is
// made when there is none.
template <class Map>
void set(Map& map, std::vector<typename Map::node_type>& spare, const typename Map::key_type& key,
         const typename Map::mapped_type& value) {
    const typename Map::iterator it = map.lower_bound(key);
    if (it != map.end() && it->first == key) {
        it->second = value;
    } else {
        put(map, spare, it, key, value);
    }
}

template <class Map>
void add(Map& map, std::vector<typename Map::node_type>& spare, const typename Map::key_type& key,
         const typename Map::mapped_type& value) {
    const typename Map::iterator it = map.lower_bound(key);
    if (it != map.end() && it->first == key) {
        it->second = it->second + value;
    } else {
        put(map, spare, it, key, value);
    }
}

// Removes an entry, keeping its node; returns the entry after it.
template <class Container>
typename Container::iterator drop(Container& container, std::vector<typename Container::node_type>& spare,
                                  const typename Container::iterator entry) {
    typename Container::iterator next = entry;
    ++next;
    spare.push_back(container.extract(entry));
    return next;
}

// Every entry removed, the nodes kept.
template <class Container>
void clear(Container& container, std::vector<typename Container::node_type>& spare) {
    while (!container.empty()) spare.push_back(container.extract(container.begin()));
}

// Adds key to a set once.
template <class Set>
void insert(Set& set, std::vector<typename Set::node_type>& spare, const typename Set::key_type& key) {
    const typename Set::iterator it = set.lower_bound(key);
    if (it != set.end() && *it == key) return;
    if (spare.empty()) {
        const std::size_t nodes = set.size() + 1;
        if (spare.capacity() < nodes) spare.reserve(2 * nodes);
        set.emplace_hint(it, key);
        return;
    }
    typename Set::node_type node = std::move(spare.back());
    spare.pop_back();
    node.value() = key;
    set.insert(it, std::move(node));
}

}  // namespace tembra_nodes

#endif
