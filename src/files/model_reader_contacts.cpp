// The model file reader, sections 11 and 12: contacts, listed one by one or
// as groups whose every pair of members touches.
#include <string>
#include <vector>

#include "files/model_reader_impl.h"
#include "platform/console.h"

namespace orv {
namespace reader {

namespace {

// A contact group may not expand into more pairs than this: the contact loops
// are quadratic in meshes and a runaway member count would exhaust memory.
constexpr long kMaxGroupContacts = 1000000;

}  // namespace

void Reader::resolveContact(Contact& c) {
  c.i_shape = findLastByName(t_.shapes, c.iSTL);
  c.j_shape = findLastByName(t_.shapes, c.jSTL);
  if (c.i_shape >= 0) {
    c.i_body = t_.shapes[c.i_shape].body;
    c.i_stl_num = t_.shapes[c.i_shape].stl_num;
  }
  if (c.j_shape >= 0) {
    c.j_body = t_.shapes[c.j_shape].body;
    c.j_stl_num = t_.shapes[c.j_shape].stl_num;
  }
}

void Reader::printContacts() {
  for (const Contact& c : t_.contacts) {
    cprintf("  %d, %s:flag=%d\n", c.id, c.name.c_str(), c.flag);
    cprintf("          iSTL=%s, jSTL=%s, k=%.3e, c=%.3e, d=%.3e, e=%.3e, myu=%.3e\n",
            c.iSTL.c_str(), c.jSTL.c_str(), c.k, c.c, c.d, c.e, c.myu);
  }
}

void Reader::contacts() {
  cprintf("%s\n", cur_.c_str());
  std::vector<Contact> rows;
  int n = list(kContact, " %s\n", [&](const std::string& first, int rec) {
    Contact c;
    c.line = recordLine_;
    c.flag = flag(kContact, rec, first);
    c.name = name(kContact, rec, "the contact's name");
    c.iSTL = name(kContact, rec, "the i shape name");
    c.jSTL = name(kContact, rec, "the j shape name");
    c.k = expr(kContact, rec, "the stiffness k");
    c.c = expr(kContact, rec, "the damping c");
    c.d = expr(kContact, rec, "the depth limit d");
    c.e = expr(kContact, rec, "the exponent e");
    c.myu = expr(kContact, rec, "the friction coefficient");
    rows.push_back(c);
  });
  cprintf("contact_num=%d\n", n);
  if (n == 0) return;
  t_.contacts = rows;
  for (int i = 0; i < n; ++i) {
    t_.contacts[i].id = i;
    resolveContact(t_.contacts[i]);
  }
  printContacts();
}

void Reader::contactGroups() {
  struct Group {
    int line;
    int flag;
    double k, c, d, e, myu;
    std::vector<std::string> members;
  };
  cprintf("%s\n", cur_.c_str());
  std::vector<Group> groups;
  long pairs = 0;
  int n = list(kContactGroup, " %s\n", [&](const std::string& first, int rec) {
    Group g;
    g.line = recordLine_;
    g.flag = flag(kContactGroup, rec, first);
    const std::string groupName = name(kContactGroup, rec, "the group's name");
    g.k = expr(kContactGroup, rec, "the stiffness k");
    g.c = expr(kContactGroup, rec, "the damping c");
    g.d = expr(kContactGroup, rec, "the depth limit d");
    g.e = expr(kContactGroup, rec, "the exponent e");
    g.myu = expr(kContactGroup, rec, "the friction coefficient");
    const int members = truncToInt(expr(kContactGroup, rec, "the member count"));
    // A group of one touches nothing: its contact would silently not exist.
    if (members < 2)
      fail(kContactGroup, rec, in_.pos(),
           format("contact group '%s' has %d member%s; expected at least 2 shapes",
                  groupName.c_str(), members, members == 1 ? "" : "s"));
    for (int k = 0; k < members; ++k) {
      g.members.push_back(name(kContactGroup, rec, "a member shape name"));
      pairs += static_cast<long>(g.members.size()) - 1;
      if (pairs > kMaxGroupContacts) {
        cprintf("  ### Contact groups expand to more than %ld contacts ###\n", kMaxGroupContacts);
        fail(kContactGroup, rec, in_.pos(),
             format("contact groups expand to more than %ld contacts", kMaxGroupContacts));
      }
    }
    for (size_t a = 0; a < g.members.size(); ++a)
      for (size_t b = a + 1; b < g.members.size(); ++b)
        if (4 + g.members[a].size() + 1 + g.members[b].size() > static_cast<size_t>(kNameMax)) {
          cprintf("  ### Contact name CNT_%s_%s is longer than %d characters ###\n",
                  g.members[a].c_str(), g.members[b].c_str(), kNameMax);
          fail(kContactGroup, rec, recordPos_,
               format("the contact name CNT_%s_%s is longer than %d characters",
                      g.members[a].c_str(), g.members[b].c_str(), kNameMax));
        }
    groups.push_back(std::move(g));
  });
  cprintf("contact_group_num=%d\n", n);
  if (n == 0) return;
  t_.contacts.clear();
  t_.contacts.reserve(pairs);
  cprintf("contact_num=%ld\n", pairs);
  for (const Group& g : groups) {
    for (size_t a = 0; a < g.members.size(); ++a) {
      for (size_t b = a + 1; b < g.members.size(); ++b) {
        Contact c;
        c.id = static_cast<int>(t_.contacts.size());
        c.line = g.line;
        c.flag = g.flag;
        c.name = "CNT_" + g.members[a] + "_" + g.members[b];
        c.iSTL = g.members[a];
        c.jSTL = g.members[b];
        c.k = g.k;
        c.c = g.c;
        c.d = g.d;
        c.e = g.e;
        c.myu = g.myu;
        resolveContact(c);
        t_.contacts.push_back(c);
      }
    }
  }
  printContacts();
}

}  // namespace reader
}  // namespace orv
