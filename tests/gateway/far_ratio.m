% A ratio of n variables with linear terms whose bordered denominator
% [Q d; d' 2*beta] is positive definite, and whose minimiser lies about
% `distance` * sqrt(n) away from x0 = 0. The bordered pencil (Pb, Qb) is drawn
% first (Pb symmetric Gaussian, Qb = G*G'/(n+1) + 0.1*I with G Gaussian),
% then the variables are shifted by s = distance * randn(n, 1): with
% S = [I -s; 0 1], S'*Pb*S and S'*Qb*S (returned as Ps, Qs) describe R(x - s),
% whose minimiser is the old one plus s, and whose pencil has the same
% eigenvalues. Pb and Qb, better conditioned, give lambda and R(x - s).
function [Ps, Qs, Pb, Qb, s] = far_ratio (n, distance)
  A = randn (n + 1);  Pb = (A + A') / 2;
  G = randn (n + 1);  Qb = G * G' / (n + 1) + 0.1 * eye (n + 1);
  s = distance * randn (n, 1);
  S = [eye(n), -s; zeros(1, n), 1];
  Ps = S' * Pb * S;  Ps = (Ps + Ps') / 2;
  Qs = S' * Qb * S;  Qs = (Qs + Qs') / 2;
end
