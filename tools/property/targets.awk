# Writes the property test's targets for one generated messages_generated.rs
# (and, with the extended tier, the extended_generated.rs beside it, whose
# structs are targets the same way) as a Rust module (tools/property-test.sh appends the typed-API checks of
# tools/property/dispatch-checks.rs to it):
#
#   targets()       one fuzz::Target per struct and enum with a read_from, in
#                   file order: a struct's target decodes, calls every
#                   accessor (`pub fn name(&self) -> ...`), formats the value
#                   and checks its round trip through write_to (a message
#                   with an opcode read back behind other bytes through
#                   its section, with `moved`); an enum's
#                   checks that a known value is written back as it was read;
#                   with -v serde=1 every decoded value also goes through
#                   JSON and back (tools/property/json.rs);
#   typed_checks()  calls `typed` for every message (a struct of a message,
#                   game action or game event section) with an OPCODE.
#
# Only names that can be Rust identifiers are used: a file with other names
# does not compile anyway, and its errors are reported as such.
#
# Usage: awk -v n=NUMBER [-v serde=1] -f targets.awk messages_generated.rs [extended_generated.rs]
# where NUMBER is the description's number: the generated module is qm_NUMBER.

# Whether `s` can be a Rust identifier (any byte above ASCII is let through).
function ident(s) { return s ~ /^[A-Za-z_\200-\377][A-Za-z0-9_\200-\377]*$/ && s !~ /^_$/ }
# Section banners tell data types from messages.
/^\/\/ === DATATYPES ===$/ { section = "datatype"; next }
/^\/\/ === (MESSAGES|GAMEACTIONS|GAMEEVENTS) / { section = "message"; next }
/^pub struct [^ ]+ \{$/ { kind[$3] = "struct"; sect[$3] = section; next }
/^pub enum [^ ]+ \{$/ { kind[$3] = "enum"; next }
# Inside `impl Name {`, the decoder, the opcode and the accessors of Name.
/^impl [^ ]+ \{$/ { current = $2; next }
/^\}$/ { current = ""; next }
current != "" && /^    pub fn read_from\(/ { if (!(current in seen)) { seen[current] = 1; order[++count] = current } next }
current != "" && /^    pub const OPCODE: u32 = / { if (sect[current] == "message") with_opcode[current] = 1; next }
current != "" && /^    pub fn [^ (]+\(&self\) -> / {
  name = $3; sub(/\(.*/, "", name)
  if (ident(name)) accessors[current] = accessors[current] " let _ = v." name "();"
  next
}
# The module, with the generated crate as `m`.
END {
  print "#![allow(warnings)]"
  print "use super::fuzz::{round_trip, Json, Outcome, RoundTrip, Target};"
  print "use super::qm_" n "::messages as m;"
  print "pub fn targets() -> Vec<Target> {"
  print "    vec!["
  for (i = 1; i <= count; i++) {
    t = order[i]
    if (!ident(t)) continue
    if (kind[t] == "struct") {
      moved = (t in with_opcode) ? "moved::<m::" t ">" : "|_, _| None"
      json = serde ? "super::json::check(&v, |v: &m::" t "| { let mut o = vec![]; v.write_to(&mut o).map(|_| o).map_err(|e| e.to_string()) })" : "Json::Unchecked"
      body = "match m::" t "::read_from(b, &mut off) { Ok(v) => {" accessors[t] " let _ = format!(\"{:?}\", v); let rt = round_trip(b, &v, off, m::" t "::read_from, |v: &m::" t ", o: &mut Vec<u8>| v.write_to(o).map_err(|e| e.to_string()), " moved "); let json = " json "; Outcome::Decoded(off, rt, json) } Err(_) => Outcome::Refused }"
    } else if (kind[t] == "enum") {
      json = serde ? "super::json::check(&e, |e: &m::" t "| { let mut o = vec![]; e.write_to(&mut o); Ok(o) })" : "Json::Unchecked"
      body = "match m::" t "::read_from(b, &mut off) { Ok(v) => { let _ = format!(\"{:?}\", v); let (rt, json) = match v { Ok(e) => { let mut o = vec![]; e.write_to(&mut o); let json = " json "; if o[..] == b[..off] { (RoundTrip::Identical, json) } else { (RoundTrip::Failed(format!(\"{:?} written as {:02X?}\", e, o)), json) } } Err(_) => (RoundTrip::None, Json::Unchecked) }; Outcome::Decoded(off, rt, json) } Err(_) => Outcome::Refused }"
    } else continue
    printf "        Target { desc: %s, name: \"%s\", run: |b| { let mut off = 0usize; %s } },\n", n, t, body
  }
  print "    ]"
  print "}"
  print "fn typed_checks(failures: &mut Vec<String>) {"
  for (i = 1; i <= count; i++) {
    t = order[i]
    if (ident(t) && kind[t] == "struct" && (t in with_opcode)) printf "    typed::<m::%s>(failures);\n", t
  }
  print "}"
}
