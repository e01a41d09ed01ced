// ARM and THUMB instructions the debug access feeds into a halted core.
#pragma once

#include <cstdint>

namespace drivers {

// Instructions fed into the core in debug state.
inline constexpr std::uint32_t kSubR0 = 0xE0400000;       // SUB r0,r0,r0
inline constexpr std::uint32_t kLdrR0 = 0xE5900000;       // LDR r0,[r0]
inline constexpr std::uint32_t kStrR0 = 0xE5800000;       // STR r0,[r0]
inline constexpr std::uint32_t kMrsCpsr = 0xE10F0000;     // MRS r0,CPSR
inline constexpr std::uint32_t kMsrCpsr = 0xE129F000;     // MSR CPSR_fc,r0
inline constexpr std::uint32_t kBicMode = 0xE3C0001F;     // BIC r0,r0,#0x1F
inline constexpr std::uint32_t kOrrMode = 0xE3800000;     // ORR r0,r0,#mode
inline constexpr std::uint32_t kMrsSpsr = 0xE14F1000;     // MRS r1,SPSR
inline constexpr std::uint32_t kStrR1 = 0xE5801000;       // STR r1,[r0]
inline constexpr std::uint32_t kSubPc = 0xE04FF000;       // SUB pc,pc,r0
inline constexpr std::uint32_t kSubR1 = 0xE0411001;       // SUB r1,r1,r1
inline constexpr std::uint32_t kSubR2 = 0xE0422002;       // SUB r2,r2,r2
inline constexpr std::uint32_t kLdrR1R2 = 0xE5921000;     // LDR r1,[r2]
inline constexpr std::uint32_t kMsrSpsr = 0xE169F001;     // MSR SPSR_fc,r1
inline constexpr std::uint32_t kStmAll = 0xE800FFFF;      // STMDA r0,{r0-r15}
inline constexpr std::uint32_t kStmThumbHigh = 0xE8007FFE;  // STMDA r0,{r1-r14}
inline constexpr std::uint32_t kAddR0Pc1 = 0xE28F0001;    // ADD r0,pc,#1
inline constexpr std::uint32_t kBxR0 = 0xE12FFF10;        // BX r0
inline constexpr std::uint32_t kLdmR0R1 = 0xE8900003;     // LDMIA r0,{r0,r1}
inline constexpr std::uint32_t kLdm8 = 0xE89000FF;        // LDMIA r0,{r0-r7}
inline constexpr std::uint32_t kStm8 = 0xE80000FF;        // STMDA r0,{r0-r7}
inline constexpr std::uint32_t kLdm13 = 0xE8903FFE;       // LDMIA r0,{r1-r13}
inline constexpr std::uint32_t kStm12 = 0xE88D1FFE;       // STMIA r13,{r1-r12}
// The wide block load: r14 holds the address and walks on by write-back;
// OR in the register list {r0..r(n-1)}, n at most 14.
inline constexpr std::uint32_t kLdrR14 = 0xE590E000;        // LDR r14,[r0]
inline constexpr std::uint32_t kLdmR14Walk = 0xE8BE0000;    // LDMIA r14!,{list}
inline constexpr std::uint32_t kStmR14 = 0xE88E0000;        // STMIA r14,{list}
inline constexpr int kWideLoadWords = 14;
// THUMB pairs (the same instruction in both halfwords).
inline constexpr std::uint32_t kThumbStrR0 = 0x60006000;  // STR r0,[r0]
inline constexpr std::uint32_t kThumbMovR0Pc = 0x46784678;  // MOV r0,pc
inline constexpr std::uint32_t kThumbBxPc = 0x47784778;   // BX pc
inline constexpr std::uint32_t kThumbLdrR0Pc = 0x48004800;  // LDR r0,[pc,#0]


}  // namespace drivers
