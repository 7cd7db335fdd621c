% [K, M] = fem_pencil (m): bilinear elements on the unit square with m-by-m
% interior nodes, zero on the boundary: the stiffness K and the consistent mass
% M (n = m^2), a pencil whose eigenvalues form one smooth family.
function [K, M] = fem_pencil (m)
  h = 1 / (m + 1);
  e = ones (m, 1);
  K1 = full (spdiags ([-e 2*e -e], -1:1, m, m)) / h;
  M1 = full (spdiags ([e 4*e e], -1:1, m, m)) * h / 6;
  K = kron (K1, M1) + kron (M1, K1);
  M = kron (M1, M1);
  K = (K + K') / 2;  M = (M + M') / 2;
end
