#pragma once
// Field constructs: for each construct of a struct body, the builder that turns
// its XML element into a model (or a reason text) and what the construct
// contributes to the struct: members, constructor entries, accessors, decoder
// and encoder statements, nested types, and the names and locals it declares.
// Each construct is one unit (its header in this folder and its .cpp);
// steps.hpp joins them into the steps of a body.
//
// Generated decoders work on `data: &[u8]` and `offset: &mut usize` and return
// `Result<Self, &'static str>`. Top-level decoder statements stand at eight
// spaces, members at four, constructor entries at twelve.

#include "constructs/steps.hpp"  // IWYU pragma: export
